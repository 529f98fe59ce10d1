// Checking and repairing UTF-8 text before it is parsed, so a record with a
// stray byte still loads instead of failing as a whole.
#ifndef QUILLMORE_XML_UTF8_REPAIR_H_
#define QUILLMORE_XML_UTF8_REPAIR_H_

#include <string>
#include <string_view>

namespace quillmore {

// True when `text` is well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF).
bool IsValidUtf8(std::string_view text);

// `text` with every maximal ill-formed subsequence replaced by U+FFFD (the
// Unicode recommended practice); well-formed text comes back unchanged.
std::string RepairUtf8(std::string_view text);

}  // namespace quillmore

#endif  // QUILLMORE_XML_UTF8_REPAIR_H_
