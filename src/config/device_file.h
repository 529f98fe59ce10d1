// The layout of a device's configuration file: where each definition's keys
// live and in which form. Readers follow the count keys and the kind key
// only, so keys that a shorter or different list left behind are ignored;
// writers never delete anything.
#ifndef QUILLMORE_CONFIG_DEVICE_FILE_H_
#define QUILLMORE_CONFIG_DEVICE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/record_fields.h"
#include "config/user_table_list.h"
#include "quillmore/QuillmoreExt.h"

namespace quillmore {

class Platform;

// Counts above this (or below 0) read as 0: they would only size an array.
inline constexpr std::int32_t kMaxDefinitions = 65536;

// Reads a count key ("LEN") with the bounds above.
std::size_t ReadCount(Platform& p, const std::string& path,
                      const char* section);

// Section USERTABLE: `count` definitions with their children.
UserTableList ReadUserTables(Platform& p, const std::string& path,
                             std::size_t count);
void WriteUserTables(Platform& p, const std::string& path,
                     const _tagUSERTABLEINFO* records, std::size_t count);

// Item number k (from 1) of ITEMSEARCH and its section "S<k>".
_tagITEMSEARCHINFO ReadSearchItem(Platform& p, const std::string& path, int k);
void WriteSearchItem(Platform& p, const std::string& path, int k,
                     const _tagITEMSEARCHINFO& item);

}  // namespace quillmore

#endif  // QUILLMORE_CONFIG_DEVICE_FILE_H_
