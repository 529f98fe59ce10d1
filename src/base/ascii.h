// Byte-level text helpers that every layer shares. They look at ASCII only:
// bytes above 0x7F are neither letters, digits nor blanks, whatever locale
// the host process has set.
#ifndef QUILLMORE_BASE_ASCII_H_
#define QUILLMORE_BASE_ASCII_H_

#include <string>
#include <string_view>

namespace quillmore {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Blanks around INI names and values: Windows trims vertical tab, form
// feed and Ctrl-Z there too.
constexpr std::string_view kIniBlanks = " \t\v\f\x1A";

// a to z as A to Z; every other byte as it is (char or unsigned char).
template <typename Byte>
constexpr Byte Fold(Byte c) {
  return (c >= 'a' && c <= 'z') ? static_cast<Byte>(c - 'a' + 'A') : c;
}

constexpr char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// `s` without the bytes of `chars` at either end. Empty, it still points
// into `s` (at its end). A loop, not find_first_not_of: that costs a search
// of `chars` per byte.
constexpr std::string_view Trim(std::string_view s,
                                std::string_view chars = kIniBlanks) {
  auto trimmed = [&](char c) {
    for (char t : chars) {
      if (t == c) return true;
    }
    return false;
  };
  std::size_t first = 0, end = s.size();
  while (first < end && trimmed(s[first])) ++first;
  while (end > first && trimmed(s[end - 1])) --end;
  return s.substr(first, end - first);
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

#endif  // QUILLMORE_BASE_ASCII_H_
