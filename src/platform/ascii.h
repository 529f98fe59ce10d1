// Byte-level text helpers that every layer shares. They look at ASCII only:
// bytes above 0x7F are neither letters, digits nor blanks, whatever locale
// the host process has set.
#ifndef QUILLMORE_PLATFORM_ASCII_H_
#define QUILLMORE_PLATFORM_ASCII_H_

#include <string>
#include <string_view>

namespace quillmore {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Blanks around INI names and values: Windows trims vertical tab, form
// feed and Ctrl-Z there too.
constexpr std::string_view kIniBlanks = " \t\v\f\x1A";
constexpr bool IsBlank(char c) {
  return kIniBlanks.find(c) != std::string_view::npos;
}

// a to z as A to Z; every other byte as it is (char or unsigned char).
template <typename Byte>
constexpr Byte Fold(Byte c) {
  return (c >= 'a' && c <= 'z') ? static_cast<Byte>(c - 'a' + 'A') : c;
}

constexpr char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// `s` without the bytes of `chars` at either end.
constexpr std::string_view Trim(std::string_view s,
                                std::string_view chars = kIniBlanks) {
  const std::size_t first = s.find_first_not_of(chars);
  // Empty, but still pointing into `s` (at its end).
  if (first == std::string_view::npos) return s.substr(s.size());
  return s.substr(first, s.find_last_not_of(chars) - first + 1);
}

inline std::string AsciiUpper(std::string s) {
  for (char& c : s) c = Fold(c);
  return s;
}

inline std::string AsciiLower(std::string s) {
  for (char& c : s) c = Lower(c);
  return s;
}

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_ASCII_H_
