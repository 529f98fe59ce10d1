#include "profile/profile_integer.h"

namespace quillmore {

std::int32_t ParseProfileInteger(std::string_view value) {
  std::string_view s = value.substr(0, kProfileIntegerChars);
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ')
    s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  std::uint32_t base = 10;
  if (s.size() >= 2 && s[0] == '0') {
    const char p = s[1];
    base = p == 'x' ? 16 : p == 'o' ? 8 : p == 'b' ? 2 : 10;
    if (base != 10) s.remove_prefix(2);
  }
  std::uint32_t n = 0;  // wraps modulo 2^32, as Windows does
  for (const char c : s) {
    std::uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      break;
    }
    if (digit >= base) break;
    n = n * base + digit;
  }
  if (negative) n = 0u - n;
  return static_cast<std::int32_t>(n);
}

}  // namespace quillmore
