// The layout of a device's configuration file: where each definition's keys
// live and in which form. Readers follow the count keys and the kind key
// only, so keys that a shorter or different list left behind are ignored;
// writers never delete anything.
#ifndef QUILLMORE_CONFIG_DEVICE_FILE_H_
#define QUILLMORE_CONFIG_DEVICE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "quillmore/QuillmoreExt.h"
#include "usertable/user_table_list.h"

namespace quillmore {

class Platform;

// Counts above this (or below 0) read as 0: they would only size an array.
inline constexpr std::int32_t kMaxDefinitions = 65536;

// Reads a count key ("LEN") with the bounds above.
std::size_t ReadCount(Platform& p, const std::string& path,
                      const char* section);

// Copies `text` into a fixed char field, cut to the field's size - 1.
template <std::size_t N>
void SetField(char (&field)[N], const std::string& text) {
  std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  text.copy(field, n);
  field[n] = '\0';
}

// The text of a fixed char field; a host may hand in one without a
// terminator, so it never reads past the field.
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
  std::size_t n = 0;
  while (n < N && field[n] != '\0') ++n;
  return std::string(field, n);
}

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
