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

inline std::string UnescapeField(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
      out += static_cast<char>(
          std::stoi(std::string(s.substr(i + 2, 2)), nullptr, 16));
      i += 3;
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
