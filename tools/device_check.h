// A device file's bytes, looked at the way the library's reader takes them,
// for what that reader passes over in silence: bytes that are no text,
// lines that are neither a section nor a key (both read as nothing, so a
// damaged file loads as a device without settings), and the raw value of a
// key whose number the reader narrows (CHILDLEN is taken modulo 256).
// Used by the quillmore CLI's `devices` and `check`; keeps no state.
#ifndef QUILLMORE_TOOLS_DEVICE_CHECK_H_
#define QUILLMORE_TOOLS_DEVICE_CHECK_H_

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quillmore_tools {

// The library reads a larger file as empty.
inline constexpr size_t kDeviceFileLimit = size_t{64} << 20;

class RawDeviceFile {
 public:
  // `bytes`: the file's first kDeviceFileLimit + 1 bytes.
  explicit RawDeviceFile(std::string bytes) {
    if (bytes.size() > kDeviceFileLimit) {
      problem_ = "is larger than 64 MiB: the library reads it as empty";
      return;
    }
    Decode(bytes);
    std::string section;
    bool known = false;
    size_t line_no = 0;
    for (size_t start = 0; start < bytes.size() && problem_.empty();) {
      size_t end = bytes.find_first_of("\r\n", start);
      if (end == std::string::npos) end = bytes.size();
      const std::string_view line =
          Trim(std::string_view(bytes).substr(start, end - start));
      start = end + (bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1);
      ++line_no;
      for (const char c : line) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' &&
            problem_.empty()) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "0x%02X",
                        static_cast<unsigned char>(c));
          problem_ = "holds the byte " + std::string(hex) + " on line " +
                     std::to_string(line_no) + ": it is no text file";
        }
      }
      if (!problem_.empty() || line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        const size_t close = line.rfind(']');
        section = Lower(Trim(line.substr(1, close - 1)));  // to the last ]
        known = known || section == "general" || section == "xml" ||
                section == "usertable" || section == "itemsearch";
      } else if (const size_t eq = line.find('='); eq != line.npos) {
        // The first key of a name counts.
        values_.emplace(
            std::make_pair(section, Lower(Trim(line.substr(0, eq)))),
            std::string(Trim(line.substr(eq + 1))));
      } else {
        problem_ = "line " + std::to_string(line_no) +
                   " is neither [SECTION] nor KEY=VALUE";
      }
    }
    if (problem_.empty() && !known)
      problem_ = "has none of the sections GENERAL, XML, USERTABLE, ITEMSEARCH";
  }

  // Why the file doesn't read as a device file; empty when it does.
  const std::string& problem() const { return problem_; }

  std::optional<std::string> Value(std::string_view section,
                                   std::string_view key) const {
    const auto it = values_.find({Lower(section), Lower(key)});
    if (it == values_.end()) return std::nullopt;
    return it->second;
  }

 private:
  // A UTF-8 byte-order mark is skipped; a UTF-16LE file (Notepad's
  // "Unicode") is narrowed, what is beyond one byte becoming '?'; a Ctrl-Z at
  // the end is no part of the text.
  static void Decode(std::string& bytes) {
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
    if (bytes.rfind("\xFF\xFE", 0) == 0) {
      std::string narrow;
      for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        narrow += bytes[i + 1] == 0 ? bytes[i] : '?';
      bytes.swap(narrow);
    }
    if (!bytes.empty() && bytes.back() == '\x1A') bytes.pop_back();
  }
  static std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
      s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
      s.remove_suffix(1);
    return s;
  }
  static std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
      c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return out;
  }

  std::string problem_;
  std::map<std::pair<std::string, std::string>, std::string> values_;
};

}  // namespace quillmore_tools

#endif  // QUILLMORE_TOOLS_DEVICE_CHECK_H_
