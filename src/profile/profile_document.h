// ProfileDocument: one INI file's text, parsed the way Windows' profile
// functions read it and indexed, and edited the way they write it: only the
// line of the key that changes is touched; every other byte of the file
// stays.
//
// Reading: LF, CRLF, lone CR and CR CR LF end lines; a UTF-8 byte-order mark
// and a trailing Ctrl-Z are ignored; a file with a UTF-16 byte-order mark is
// read as UTF-8 and written back in UTF-16; names match without regard to
// ASCII case; blanks, tabs, vertical tabs, form feeds and Ctrl-Z around
// names and values are trimmed; a name or value ends at a NUL byte, in the
// file as in a caller's text; ';' starts a comment line ('#' does not); a
// section header's name ends at its last ']' (a '[' line without one is no
// header); a line splits at its first '='; the first of two equal keys or
// sections counts; keys before any header belong to no section; one pair of
// matching outer quotes is removed from a value.
//
// Cost: parsing is linear in the text. Sections and keys are found through
// hash tables, in expected constant time whatever a section's size. An edit
// costs the length of what it writes (amortised); the text is put together
// once, by Text().
//
// A document is a value: copies and moves are independent of the source. A
// const document may be read from several threads at once.
#ifndef QUILLMORE_PROFILE_PROFILE_DOCUMENT_H_
#define QUILLMORE_PROFILE_PROFILE_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "profile/profile_encoding.h"

namespace quillmore {

class ProfileDocument {
 public:
  // The largest text a document holds: a longer file is not read as a
  // profile, and an edit that would make the text longer is refused. A
  // file of the longest lists (65536 items with every value full) is below
  // half of it.
  static constexpr std::size_t kMaxBytes = std::size_t{64} << 20;

  using SectionId = std::uint32_t;
  static constexpr SectionId kNoSection = 0xFFFFFFFFu;

  ProfileDocument() : ProfileDocument(std::string()) {}
  // `text` longer than kMaxBytes is read as empty.
  explicit ProfileDocument(std::string text);

  // The section that lookups by this name search (its first occurrence), or
  // kNoSection.
  SectionId FindSection(std::string_view section) const;

  // The key's value as read (trimmed, unquoted); nullopt when the section or
  // key is missing. An empty value is present but empty. The view lives as
  // long as the document is not changed.
  std::optional<std::string_view> Find(SectionId section,
                                       std::string_view key) const;
  std::optional<std::string_view> Find(std::string_view section,
                                       std::string_view key) const {
    return Find(FindSection(section), key);
  }
  // The key's value as an integer (ParseProfileInteger); nullopt when the
  // key is missing or its value empty.
  std::optional<std::int32_t> FindInt(SectionId section,
                                      std::string_view key) const;
  std::optional<std::int32_t> FindInt(std::string_view section,
                                      std::string_view key) const {
    return FindInt(FindSection(section), key);
  }
  // The names of the sections that FindSection can give, in the file's
  // order (a repeated name only at its first header).
  std::vector<std::string_view> SectionNames() const;
  // Every key of the section that Find can give, in the file's order (a
  // repeated name only at its first line), with its value as Find gives it.
  void ForEachKey(
      SectionId section,
      const std::function<void(std::string_view name, std::string_view value)>&
          visit) const;

  // Sets one key: rewrites the first occurrence in place, or puts it after
  // the last non-blank line of its section, or appends the section to the
  // file. New lines end like the file's first line; in a file without one,
  // as the system's text files do (CR LF on Windows, LF elsewhere). A value
  // is cut at its first line break, so no write can make a key
  // that was not written. Returns false when the text did not change (the
  // same value, a name that can't be written: empty, holding a line break,
  // '=' in a key, ']' in a section, a key that would read as a comment or a
  // header; or a text that would grow beyond kMaxBytes).
  bool Set(std::string_view section, std::string_view key,
           std::string_view value);

  // True once a Set has changed the text.
  bool changed() const { return changed_; }
  // The text as it is now, in the file's own encoding: the parsed text with
  // every edit applied.
  std::string Text() const;
  // The text the document was parsed from, without its edits.
  const std::string& source() const { return IsUtf16() ? utf16_ : base_; }
  // Names and values of a UTF-16 file are UTF-8; of other files, the file's
  // own bytes.
  ProfileEncoding encoding() const { return encoding_; }
  // Bytes that edits have written so far, the replaced versions of a
  // rewritten line included (an edited line written again where it fits
  // takes no more): what the document holds beyond its source.
  std::size_t edited_bytes() const { return added_.size(); }

 private:
  // Text positions: offsets into base_, or into added_ with kAdded set.
  static constexpr std::uint32_t kAdded = 0x80000000u;
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  struct Key {
    std::uint32_t pos = 0;  // the line's content
    std::uint32_t len = 0;
    std::uint32_t name_off = 0;  // relative to pos
    std::uint32_t name_len = 0;
    std::uint32_t value_off = 0;  // the value trimmed, quotes kept
    std::uint32_t value_len = 0;
    bool quoted = false;  // one pair of outer quotes to drop on reading
  };
  struct Section {
    std::uint32_t name_pos = 0;
    std::uint32_t name_len = 0;
    // The end of the section's last non-blank line (its header when it has
    // none) and the start of the line after it: where new keys go.
    std::uint32_t anchor_end = 0;
    std::uint32_t anchor_next = 0;
    std::uint32_t keys_begin = 0;  // its keys parsed from the text
    std::uint32_t keys_end = 0;
    std::uint32_t next_key = 0;  // of those, the one Set tries first
    bool appended = false;       // made by Set, at the end of the text
    std::vector<std::uint32_t> added_keys;  // keys Set put after the anchor
  };
  // Open addressing: `id` is kNone in an empty slot.
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t section = 0;
    std::uint32_t id = kNone;
  };
  // A key line rewritten in place, with the bytes it had in base_.
  struct Rewrite {
    std::uint32_t key;
    std::uint32_t pos;
    std::uint32_t len;
  };

  bool IsUtf16() const {
    return encoding_ == ProfileEncoding::kUtf16Le ||
           encoding_ == ProfileEncoding::kUtf16Be;
  }
  // Positions are the document's own, always inside their text: no checks.
  std::string_view At(std::uint32_t pos, std::uint32_t len) const {
    const char* text = (pos & kAdded) ? added_.data() : base_.data();
    return std::string_view(text + (pos & ~kAdded), len);
  }
  std::string_view Content(const Key& k) const { return At(k.pos, k.len); }
  std::string_view Name(const Key& k) const {
    return At(k.pos + k.name_off, k.name_len);
  }
  std::string_view Value(const Key& k) const;
  std::string_view RawValue(const Key& k) const {
    return At(k.pos + k.value_off, k.value_len);
  }
  std::string_view SectionName(const Section& s) const {
    return At(s.name_pos, s.name_len);
  }

  // Set, with names and value in the text's own encoding of them (UTF-8
  // for a UTF-16 file).
  bool SetUtf8(std::string_view section, std::string_view key,
               std::string_view value);
  SectionId LookupSection(std::string_view section, std::uint32_t hash) const;
  std::uint32_t FindKey(SectionId section, std::string_view key) const;
  void IndexSection(SectionId id, std::uint32_t hash);
  // False (nothing indexed) when the section has the name already.
  bool IndexKey(SectionId section, std::uint32_t key, std::uint32_t hash);
  static void Grow(std::vector<Slot>& table, std::size_t count);
  // Appends `text` (or the line "name=value") to added_ and gives its
  // position.
  std::uint32_t Append(std::string_view text);
  std::uint32_t AppendLine(std::string_view name, std::string_view value);
  // Reads `content` (at `pos`) as a key line into `k`; false when it is none.
  static bool ParseKey(std::string_view content, std::uint32_t pos, Key& k);

  ProfileEncoding encoding_ = ProfileEncoding::kBytes;
  std::string utf16_;  // a UTF-16 file's bytes; base_ holds them as UTF-8
  std::string base_;
  std::string added_;               // text that edits wrote
  std::string eol_;                 // line end of new lines: the file's own
  std::uint32_t head_ = 0;          // a byte-order mark's length
  std::uint32_t body_end_ = 0;      // base_ without a trailing Ctrl-Z
  bool base_open_ = false;          // base_'s last line has no line end
  bool ends_open_ = false;          // ... and nothing was put after it yet
  std::uint32_t last_key_ = kNone;  // the key on that line, if any
  bool tail_ctrl_z_ = false;        // a Ctrl-Z ends the text
  bool changed_ = false;
  std::size_t size_ = 0;  // Text().size()

  std::vector<Key> keys_;
  std::vector<Section> sections_;
  std::vector<Slot> section_table_;
  std::vector<Slot> key_table_;
  std::vector<Rewrite> rewrites_;
  std::vector<SectionId> appended_sections_;
  // The section Set found last, by its name as given.
  std::string last_section_;
  SectionId last_section_id_ = kNoSection;
};

}  // namespace quillmore

#endif  // QUILLMORE_PROFILE_PROFILE_DOCUMENT_H_
