// Lines of tab-separated fields in which every byte that could end a field
// or a line (and every byte outside printable ASCII) is written \xHH, so
// any text travels as one field. Used by profile_oracle and its caller.
#ifndef QUILLMORE_TOOLS_ESCAPED_FIELDS_H_
#define QUILLMORE_TOOLS_ESCAPED_FIELDS_H_

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace quillmore {

inline std::string EscapeField(std::string_view s) {
  std::string out;
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c > 0x7E || c == '\\') {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += ch;
    }
  }
  return out;
}

inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Also reads \r, \n and \t, for fields written by hand.
inline std::string UnescapeField(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char next = i + 1 < s.size() ? s[i + 1] : '\0';
    const int hi = i + 3 < s.size() ? HexDigit(s[i + 2]) : -1;
    const int lo = i + 3 < s.size() ? HexDigit(s[i + 3]) : -1;
    if (s[i] == '\\' && next == 'x' && hi >= 0 && lo >= 0) {
      out += static_cast<char>(hi * 16 + lo);
      i += 3;
    } else if (s[i] == '\\' && (next == 'r' || next == 'n' || next == 't')) {
      out += next == 'r' ? '\r' : next == 'n' ? '\n' : '\t';
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The fields of one line, unescaped.
inline std::vector<std::string> SplitFields(std::string_view line) {
  std::vector<std::string> fields;
  for (std::size_t start = 0;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(UnescapeField(line.substr(start, tab - start)));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

}  // namespace quillmore

#endif  // QUILLMORE_TOOLS_ESCAPED_FIELDS_H_
