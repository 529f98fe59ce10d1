// ProfileDocument: one INI file's text, parsed the way Windows' profile
// functions read it, and edited the way they write it: only the line of the
// key that changes is touched; every other byte of the file stays.
//
// Reading: LF, CRLF, lone CR and CR CR LF end lines; a UTF-8 byte-order mark
// and a trailing Ctrl-Z are ignored; a file with a UTF-16 byte-order mark is
// read as UTF-8 and written back in UTF-16; names match without regard to
// ASCII case; blanks, tabs, vertical tabs, form feeds and Ctrl-Z around
// names and values are trimmed; a name or value ends at a NUL byte; ';'
// starts a comment line ('#' does not); a section header's name ends at its
// last ']' (a '[' line without one is no header); a line splits at its first
// '='; the first of two equal keys or sections counts; keys before any
// header belong to no section; one pair of matching outer quotes is removed
// from a value.
//
// A document is a value: copies and moves are independent of the source. A
// const document may be read from several threads at once.
#ifndef QUILLMORE_PLATFORM_PROFILE_DOCUMENT_H_
#define QUILLMORE_PLATFORM_PROFILE_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/profile_encoding.h"

namespace quillmore {

class ProfileDocument {
 public:
  ProfileDocument() = default;
  explicit ProfileDocument(std::string text);

  // The key's value as read (trimmed, unquoted); nullopt when the section or
  // key is missing. An empty value is present but empty. The view lives as
  // long as the document is not changed.
  std::optional<std::string_view> Find(std::string_view section,
                                       std::string_view key) const;
  // The key's value as an integer (IntegerValue); nullopt when the key is
  // missing or its value empty.
  std::optional<std::int32_t> FindInt(std::string_view section,
                                      std::string_view key) const;
  // A value read as Windows reads integers: the leading sign and decimal
  // digits after any blanks, wrapping modulo 2^32; 0 without digits.
  static std::int32_t IntegerValue(std::string_view value);

  // Sets one key: rewrites the first occurrence in place, or appends it
  // after the last non-blank line of its section, or appends the section to
  // the file. New lines end like the file's first line; in a file without
  // one, as the system's text files do (CR LF on Windows, LF elsewhere). A
  // value is cut at its first line break, so no write can make a key that was
  // not written. Returns false when the text did not change (the same value, or
  // a name that can't be written: empty, holding a line break, '=' in a key,
  // ']' in a section, a key that would read as a comment or a header).
  bool Set(std::string_view section, std::string_view key,
           std::string_view value);

  // Every section header's name in file order, repeats included; the key
  // names of a section (its first header) in file order, repeats included.
  std::vector<std::string_view> SectionNames() const;
  std::vector<std::string_view> KeyNames(std::string_view section) const;

  // The file's bytes, in the file's own encoding.
  const std::string& text() const { return IsUtf16() ? bytes_ : text_; }
  // Names and values of a UTF-16 file are UTF-8; of other files, the file's
  // own bytes.
  ProfileEncoding encoding() const { return encoding_; }

 private:
  enum class Kind { kOther, kSection, kKey };
  // Offsets into text_, so copies of the document stay valid.
  struct Span {
    std::size_t pos = 0;
    std::size_t len = 0;
  };
  struct Line {
    std::size_t begin = 0;  // first byte of the line
    std::size_t end = 0;    // one past the last byte before its terminator
    std::size_t next = 0;   // first byte of the following line
    Kind kind = Kind::kOther;
    Span name;       // section or key name, trimmed
    Span value;      // key value, trimmed and unquoted
    Span raw_value;  // key value, trimmed only
  };

  void Parse();
  bool IsUtf16() const {
    return encoding_ == ProfileEncoding::kUtf16Le ||
           encoding_ == ProfileEncoding::kUtf16Be;
  }
  // bytes_ from text_ after an edit (UTF-16 files only).
  void Encode();
  std::string_view View(Span s) const {
    return std::string_view(text_).substr(s.pos, s.len);
  }
  // Index of the section's first header line, or npos.
  std::size_t FindSection(std::string_view section) const;
  std::string_view Eol() const;

  ProfileEncoding encoding_ = ProfileEncoding::kBytes;
  std::string text_;          // what is parsed: UTF-8 for a UTF-16 file
  std::string bytes_;         // a UTF-16 file's bytes
  std::size_t body_end_ = 0;  // text_ without a trailing Ctrl-Z
  std::vector<Line> lines_;
  // Upper-cased section name -> its first header line.
  std::unordered_map<std::string, std::size_t> sections_;
};

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_PROFILE_DOCUMENT_H_
