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
// How an edit is kept: the text parsed never changes. Sections and keys are
// records of positions in it; Set writes each new or changed line into a
// second text, of edits, and points the key there, and Text() puts the two
// together in the file's order. The invariants a change must keep are
// written at the members that carry them.
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

#include "profile/name_index.h"
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
  // Where text lies. A position is an offset into base_, or into added_
  // with kAdded set; neither text grows beyond kMaxBytes (2^26), so the bit
  // is free. A position with its length always lies inside its text: no
  // reader checks it.
  static constexpr std::uint32_t kAdded = 0x80000000u;
  static constexpr std::uint32_t kNone = NameIndex::kNone;

  // One key line that lookups can find.
  struct Key {
    std::uint32_t pos = 0;  // the line's content, without its line end
    std::uint32_t len = 0;
    std::uint32_t name_off = 0;  // relative to pos
    std::uint32_t name_len = 0;
    std::uint32_t value_off = 0;  // the value trimmed, quotes kept
    std::uint32_t value_len = 0;
    bool quoted = false;  // one pair of outer quotes to drop on reading
  };
  // One section that lookups can find (the first of its name).
  struct Section {
    std::uint32_t name_pos = 0;
    std::uint32_t name_len = 0;
    // The end of the section's last non-blank line (its header when it has
    // none) and the start of the line after it: where new keys go. Offsets
    // into base_ (unused for an appended section).
    std::uint32_t anchor_end = 0;
    std::uint32_t anchor_next = 0;
    // Its keys parsed from the text are keys_[keys_begin, keys_end), in
    // the text's order; next_key lies in that range (or is keys_end when
    // it is empty): the key Set tries first.
    std::uint32_t keys_begin = 0;
    std::uint32_t keys_end = 0;
    std::uint32_t next_key = 0;
    bool appended = false;  // made by Set, at the end of the text
    // Keys Set added after the anchor, in the order they were added.
    std::vector<std::uint32_t> added_keys;
  };
  // A key line of base_ rewritten by Set: the bytes it had there, which
  // Text() leaves out for the key's current line.
  struct Rewrite {
    std::uint32_t key;
    std::uint32_t pos;
    std::uint32_t len;
  };
  // A line of base_: its content is [pos, end), the next line starts at
  // `next` (end when the line has no line end).
  struct Line {
    std::uint32_t pos;
    std::uint32_t end;
    std::uint32_t next;
  };

  bool IsUtf16() const {
    return encoding_ == ProfileEncoding::kUtf16Le ||
           encoding_ == ProfileEncoding::kUtf16Be;
  }
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

  // Parsing, the constructor's steps in order.
  void Decode(std::string text);
  void FindBody();
  void ReserveIndexes();
  void ParseLines();
  Line LineAt(std::uint32_t pos) const;
  // A header line's section; kNoSection when the name has one already.
  SectionId ParseHeader(std::string_view name, const Line& line);
  void ParseKeyLine(SectionId section, std::string_view content,
                    std::string_view trimmed, const Line& line);
  // Reads `content` (at `pos`) as a key line into `k`; false when it is none.
  static bool ParseKey(std::string_view content, std::uint32_t pos, Key& k);

  // Lookups.
  SectionId LookupSection(std::string_view section, std::uint32_t hash) const;
  std::uint32_t FindKey(SectionId section, std::string_view key) const;

  // Set's steps, with names and value in the text's own encoding of them
  // (UTF-8 for a UTF-16 file).
  bool SetUtf8(std::string_view section, std::string_view key,
               std::string_view value);
  // The section's name as it is written and its id (kNoSection when it is
  // new), looked up and kept for the next Set; false when it can't be
  // written.
  bool SectionToWrite(std::string_view& section, SectionId& id);
  // The key that holds `key` in the section, or kNone.
  std::uint32_t KeyToWrite(SectionId section, std::string_view key);
  bool RewriteKey(std::uint32_t id, std::string_view value);
  bool AddKey(SectionId section, std::string_view section_name,
              std::string_view key, std::string_view value);
  // `text`, or a copy of it in `copy` when it lies in added_, which
  // appending may move.
  std::string_view Stable(std::string_view text, std::string& copy) const;
  // Appends `text` (or the line "name=value") to added_ and gives its
  // position.
  std::uint32_t Append(std::string_view text);
  std::uint32_t AppendLine(std::string_view name, std::string_view value);

  // The source. Set after parsing, never changed.
  ProfileEncoding encoding_ = ProfileEncoding::kBytes;
  std::string utf16_;       // a UTF-16 file's bytes; base_ holds them as UTF-8
  std::string base_;        // the text parsed, at most kMaxBytes
  std::uint32_t head_ = 0;  // a UTF-8 byte-order mark's length
  std::uint32_t body_end_ = 0;      // base_ without a trailing Ctrl-Z
  bool base_open_ = false;          // base_'s last line has no line end
  std::uint32_t last_key_ = kNone;  // the key on that line, if any

  // Edits. added_ only grows, except that Set writes an edited line's value
  // again over its own bytes where it fits, so a position into it stays
  // valid; views into it live until the next Set.
  std::string added_;
  std::string eol_;           // line end of new lines: the file's own
  bool ends_open_ = false;    // base_open_, and nothing was put after it
  bool tail_ctrl_z_ = false;  // Text() ends with a Ctrl-Z
  bool changed_ = false;      // some Set changed the text
  std::size_t size_ = 0;      // Text().size(), at most kMaxBytes

  // keys_ and sections_ hold exactly what lookups can find and never lose
  // an entry: an id is an index and never changes. Parsed sections come
  // first, in the text's order, then appended ones (in appended_sections_,
  // in the order Set made them). Every entry is in its index, a key under
  // its section's id; no section holds two keys of one name, and no two
  // sections share a name (without regard to ASCII case).
  std::vector<Key> keys_;
  std::vector<Section> sections_;
  NameIndex section_index_;
  NameIndex key_index_;
  std::vector<SectionId> appended_sections_;
  // One entry per rewritten key of base_, in the order of the rewrites;
  // such a key's line then lies in added_.
  std::vector<Rewrite> rewrites_;
  // The section Set found last, by its name as given, and its id (or
  // kNoSection when it had none then); a section's id never changes.
  std::string last_section_;
  SectionId last_section_id_ = kNoSection;
};

}  // namespace quillmore

#endif  // QUILLMORE_PROFILE_PROFILE_DOCUMENT_H_
