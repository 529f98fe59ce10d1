// The layout of a device's configuration file: where each definition's keys
// live and in which form, as plain functions over the parsed file. Readers
// take a snapshot, writers the document of a transaction; neither touches
// a file. Readers follow the count keys and the kind key only, so keys
// that a shorter or different list left behind are ignored; writers never
// delete anything.
//
// Cost: a reader looks each key up once. A definition the file doesn't
// hold costs a few lookups and no more: an item whose section is missing,
// a group whose children's section is missing, and children that the
// section names no key for are not searched key by key.
#ifndef QUILLMORE_CONFIG_DEVICE_FILE_H_
#define QUILLMORE_CONFIG_DEVICE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/record_fields.h"
#include "config/user_table_list.h"
#include "profile/profile_document.h"
#include "quillmore/QuillmoreExt.h"

namespace quillmore {

// Counts above this (or below 0) read as 0: they would only size an array.
inline constexpr std::int32_t kMaxDefinitions = 65536;

// A text as a buffer of `size` bytes receives it: cut to size - 1 bytes,
// empty when the key is missing (or size is 0).
std::string ReadText(const ProfileDocument& file, std::string_view section,
                     std::string_view key, std::size_t size);
// An integer; `def` when the key is missing or empty.
std::int32_t ReadInt(const ProfileDocument& file, std::string_view section,
                     std::string_view key, std::int32_t def = 0);
// A count key ("LEN") with the bounds above.
std::size_t ReadCount(const ProfileDocument& file, std::string_view section);

// Section USERTABLE: `count` definitions with their children.
UserTableList ReadUserTables(const ProfileDocument& file, std::size_t count);
void WriteUserTables(ProfileDocument& file, const _tagUSERTABLEINFO* records,
                     std::size_t count);

// Item number k (from 1) of ITEMSEARCH and its section "S<k>".
_tagITEMSEARCHINFO ReadSearchItem(const ProfileDocument& file, std::size_t k);
void WriteSearchItem(ProfileDocument& file, std::size_t k,
                     const _tagITEMSEARCHINFO& item);

}  // namespace quillmore

#endif  // QUILLMORE_CONFIG_DEVICE_FILE_H_
