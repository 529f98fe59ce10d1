// The integer a profile value reads as, the way Windows' GetPrivateProfileInt
// reads it: only the value's first 29 characters are looked at (a longer
// run of digits reads as its first 29); control characters and blanks
// before the number are skipped; an optional sign; then a lower-case prefix
// picks the base ("0x" 16, "0o" 8, "0b" 2; a leading "0" alone is still
// decimal); digits of that base are read until the first other character,
// wrapping modulo 2^32. No digit gives 0.
#ifndef QUILLMORE_PROFILE_PROFILE_INTEGER_H_
#define QUILLMORE_PROFILE_PROFILE_INTEGER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillmore {

// How many characters of a value Windows reads an integer from.
inline constexpr std::size_t kProfileIntegerChars = 29;

// `value` is a value as found (trimmed, unquoted). An empty value is the
// caller's default, not 0: the caller tests for it.
std::int32_t ParseProfileInteger(std::string_view value);

}  // namespace quillmore

#endif  // QUILLMORE_PROFILE_PROFILE_INTEGER_H_
