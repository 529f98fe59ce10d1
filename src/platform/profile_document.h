// ProfileDocument: one INI file's text, parsed the way Windows' profile
// functions read it, and edited the way they write it: only the line of the
// key that changes is touched; every other byte of the file stays.
//
// Reading: LF, CRLF, lone CR and CR CR LF end lines; a UTF-8 byte-order mark
// and a trailing Ctrl-Z are ignored; names match without regard to ASCII
// case; blanks and tabs around names and values are trimmed; ';' starts a
// comment line; a line splits at its first '='; the first of two equal keys
// or sections counts; one pair of matching outer quotes is removed from a
// value.
#ifndef QUILLMORE_PLATFORM_PROFILE_DOCUMENT_H_
#define QUILLMORE_PLATFORM_PROFILE_DOCUMENT_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmore {

class ProfileDocument {
 public:
  ProfileDocument() = default;
  explicit ProfileDocument(std::string text);

  // The key's value as read (trimmed, unquoted); nullopt when the section or
  // key is missing. An empty value is present but empty.
  std::optional<std::string_view> Find(std::string_view section,
                                       std::string_view key) const;

  // Sets one key: rewrites the first occurrence in place, or appends it to
  // its section, or appends the section to the file. A value is cut at its
  // first line break, so no write can make a key that was not written.
  // Returns false when the file's text did not change (the same value, or a
  // name that can't be written: empty, or holding a line break, '=' in a key
  // or ']' in a section).
  bool Set(std::string_view section, std::string_view key,
           std::string_view value);

  const std::string& text() const { return text_; }

 private:
  enum class Kind { kOther, kSection, kKey };
  struct Line {
    std::size_t begin = 0;    // first byte of the line
    std::size_t end = 0;      // one past the last byte before its terminator
    std::size_t next = 0;     // first byte of the following line
    Kind kind = Kind::kOther;
    std::string_view name;    // section or key name, trimmed
    std::string_view value;   // key value, trimmed and unquoted
    std::string_view raw_value;  // key value, trimmed only
  };

  void Parse();
  // Index of the section's header line, or npos.
  std::size_t FindSection(std::string_view section) const;
  std::string_view Eol() const;

  std::string text_;
  std::size_t body_end_ = 0;  // text_ without a trailing Ctrl-Z
  std::vector<Line> lines_;
};

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_PROFILE_DOCUMENT_H_
