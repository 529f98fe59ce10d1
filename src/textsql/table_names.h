// Names of the tables a device's records live in.
#ifndef QUILLMORE_TEXTSQL_TABLE_NAMES_H_
#define QUILLMORE_TEXTSQL_TABLE_NAMES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillmore {

// "TBL_TEXTDATAEX<device>_<SERIAL>", the serial in upper-case hexadecimal.
std::string TextTableName(int device, std::uint32_t serial);

// "TBL_USER<device>_<SERIAL>" without an element, else
// "USR_<ELEMENT><device>_<SERIAL>" with the element upper-cased (a to z
// only; other bytes stay as they are).
std::string FormatUserTableName(int device,
                                std::optional<std::string_view> element,
                                std::uint32_t serial);

}  // namespace quillmore

#endif  // QUILLMORE_TEXTSQL_TABLE_NAMES_H_
