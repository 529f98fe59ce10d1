#include "profile/profile_document.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/ascii.h"
#include "base/word_scan.h"
#include "profile/profile_integer.h"

namespace quillmore {
namespace {

// Windows reads names and values as C strings: they end at a NUL byte.
std::string_view UpToNul(std::string_view s) {
  return s.substr(0, s.find('\0'));
}

std::string_view NameOf(std::string_view s) { return Trim(UpToNul(s)); }

// Where a caller's text ends on one line: a NUL ends it, as a C string; a
// line break would start a line of its own.
std::size_t LineEnd(std::string_view s) { return FirstOf<'\0', '\r', '\n'>(s); }

// The key's name as it is written; false when it can't be.
bool WritableKey(std::string_view& key) {
  // A name ends at a NUL; a line break before it, or '=' in a key, can't be
  // written.
  const std::size_t end = FirstOf<'\0', '\r', '\n', '='>(key);
  if (end < key.size() && key[end] != '\0') return false;
  key = Trim(key.substr(0, end));
  return !key.empty() && key.front() != ';' && key.front() != '[';
}

}  // namespace

ProfileDocument::ProfileDocument(std::string text) {
  Decode(std::move(text));
  FindBody();
  ReserveIndexes();
  ParseLines();
}

// base_ holds the text to parse: the file's bytes, or a UTF-16 file's
// units as UTF-8; nothing when that would exceed kMaxBytes.
void ProfileDocument::Decode(std::string text) {
  base_ = std::move(text);
  if (base_.size() > kMaxBytes) base_.clear();
  encoding_ = DetectProfileEncoding(base_);
  if (IsUtf16()) {
    utf16_ = std::move(base_);
    base_ = Utf16ToUtf8(std::string_view(utf16_).substr(2),
                        encoding_ == ProfileEncoding::kUtf16Be);
    if (base_.size() > kMaxBytes) {
      base_.clear();
      utf16_.clear();
      encoding_ = ProfileEncoding::kBytes;
    }
  }
}

// The lines lie between a UTF-8 byte-order mark and a trailing Ctrl-Z.
void ProfileDocument::FindBody() {
  size_ = base_.size();
  body_end_ = static_cast<std::uint32_t>(base_.size());
  if (body_end_ > 0 && base_[body_end_ - 1] == '\x1A') {
    --body_end_;
    tail_ctrl_z_ = true;
  }
  if (std::string_view(base_).substr(0, 3) == "\xEF\xBB\xBF") head_ = 3;
}

// Room for what the text can hold, so nothing grows while parsing: a key
// needs a line and a '=', a section a line and a '['.
void ProfileDocument::ReserveIndexes() {
  std::size_t lines = 1, equals = 0, brackets = 0;
  for (char c : base_) {
    lines += c == '\n' || c == '\r';
    equals += c == '=';
    brackets += c == '[';
  }
  keys_.reserve(std::min(lines, equals));
  sections_.reserve(std::min(lines, brackets));
  key_index_.Reserve(std::min(lines, equals));
  section_index_.Reserve(std::min(lines, brackets));
}

void ProfileDocument::ParseLines() {
  // A file without a line end yet gets the system's.
#ifdef _WIN32
  eol_ = "\r\n";
#else
  eol_ = "\n";
#endif
  SectionId current = kNoSection;
  for (std::uint32_t pos = head_; pos < body_end_;) {
    const Line line = LineAt(pos);
    if (pos == head_ && line.next > line.end) {
      // The file's own line end (that of its first line), so an edit
      // doesn't mix styles; a CR CR LF file gets CR LF.
      const std::string_view t(base_.data() + line.end, line.next - line.end);
      eol_ = t == "\r" ? "\r" : (t == "\n" ? "\n" : "\r\n");
    }
    const std::string_view content(base_.data() + pos, line.end - pos);
    const std::string_view t = Trim(content);
    const std::size_t close =
        !t.empty() && t.front() == '[' ? t.rfind(']') : std::string_view::npos;
    if (close != std::string_view::npos) {
      current = ParseHeader(NameOf(t.substr(1, close - 1)), line);
    } else if (current != kNoSection && !t.empty()) {
      ParseKeyLine(current, content, t, line);
    }
    base_open_ = line.next == line.end;
    pos = line.next;
  }
  ends_open_ = base_open_;
}

// The line ends at the first CR or LF; CR LF, CR CR LF, LF and a lone CR
// each end one line.
ProfileDocument::Line ProfileDocument::LineAt(std::uint32_t pos) const {
  const char* const data = base_.data();
  const void* lf = std::memchr(data + pos, '\n', body_end_ - pos);
  std::size_t end = lf != nullptr ? static_cast<const char*>(lf) - data
                                  : std::size_t{body_end_};
  if (const void* cr = std::memchr(data + pos, '\r', end - pos)) {
    end = static_cast<const char*>(cr) - data;
  }
  std::size_t next = end;
  if (next < body_end_) {
    const std::string_view t(data + next, body_end_ - next);
    if (t.substr(0, 3) == "\r\r\n") {
      next += 3;
    } else if (t.substr(0, 2) == "\r\n") {
      next += 2;
    } else {
      next += 1;  // LF or a lone CR
    }
  }
  return Line{pos, static_cast<std::uint32_t>(end),
              static_cast<std::uint32_t>(next)};
}

ProfileDocument::SectionId ProfileDocument::ParseHeader(std::string_view name,
                                                        const Line& line) {
  const auto id = static_cast<SectionId>(sections_.size());
  const bool added = section_index_.Add(
      NameIndex::Hash(name), 0, id, [&](std::uint32_t other) {
        return EqualIgnoringCase(SectionName(sections_[other]), name);
      });
  if (!added) return kNoSection;  // the first section of a name counts
  Section s;
  s.name_pos = static_cast<std::uint32_t>(name.data() - base_.data());
  s.name_len = static_cast<std::uint32_t>(name.size());
  s.anchor_end = line.end;
  s.anchor_next = line.next;
  s.keys_begin = s.keys_end = s.next_key =
      static_cast<std::uint32_t>(keys_.size());
  sections_.push_back(std::move(s));
  return id;
}

// A non-blank line of a section: the section's anchor moves past it,
// whether it holds a key or not.
void ProfileDocument::ParseKeyLine(SectionId section, std::string_view content,
                                   std::string_view trimmed, const Line& line) {
  Section& s = sections_[section];
  s.anchor_end = line.end;
  s.anchor_next = line.next;
  Key k;
  if (trimmed.front() == ';' || !ParseKey(content, line.pos, k)) return;
  const auto id = static_cast<std::uint32_t>(keys_.size());
  const std::string_view name = Name(k);
  const bool added = key_index_.Add(
      NameIndex::Hash(name, section), section, id, [&](std::uint32_t other) {
        return EqualIgnoringCase(Name(keys_[other]), name);
      });
  if (!added) return;  // the first key of a name counts
  keys_.push_back(k);
  s.keys_end = id + 1;
  if (line.next == line.end) last_key_ = id;
}

std::string_view ProfileDocument::Value(const Key& k) const {
  const std::string_view raw = RawValue(k);
  return k.quoted ? raw.substr(1, raw.size() - 2) : raw;
}

bool ProfileDocument::ParseKey(std::string_view content, std::uint32_t pos,
                               Key& k) {
  const std::string_view t = Trim(content);
  const std::size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  const std::string_view name = NameOf(t.substr(0, eq));
  const std::string_view raw = NameOf(t.substr(eq + 1));
  k.pos = pos;
  k.len = static_cast<std::uint32_t>(content.size());
  k.name_off = static_cast<std::uint32_t>(name.data() - content.data());
  k.name_len = static_cast<std::uint32_t>(name.size());
  k.value_off = static_cast<std::uint32_t>(raw.data() - content.data());
  k.value_len = static_cast<std::uint32_t>(raw.size());
  k.quoted = raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') &&
             raw.back() == raw.front();
  return true;
}

ProfileDocument::SectionId ProfileDocument::FindSection(
    std::string_view section) const {
  section = NameOf(section);
  return LookupSection(section, NameIndex::Hash(section));
}

ProfileDocument::SectionId ProfileDocument::LookupSection(
    std::string_view section, std::uint32_t hash) const {
  return section_index_.Find(hash, 0, [&](std::uint32_t id) {
    return EqualIgnoringCase(SectionName(sections_[id]), section);
  });
}

std::uint32_t ProfileDocument::FindKey(SectionId section,
                                       std::string_view key) const {
  return key_index_.Find(NameIndex::Hash(key, section), section,
                         [&](std::uint32_t id) {
                           return EqualIgnoringCase(Name(keys_[id]), key);
                         });
}

std::optional<std::string_view> ProfileDocument::Find(
    SectionId section, std::string_view key) const {
  if (section == kNoSection) return std::nullopt;
  const std::uint32_t id = FindKey(section, NameOf(key));
  if (id == kNone) return std::nullopt;
  return Value(keys_[id]);
}

void ProfileDocument::ForEachKey(
    SectionId section,
    const std::function<void(std::string_view, std::string_view)>& visit)
    const {
  if (section == kNoSection) return;
  const Section& s = sections_[section];
  for (std::uint32_t i = s.keys_begin; i < s.keys_end; ++i) {
    visit(Name(keys_[i]), Value(keys_[i]));
  }
  for (std::uint32_t i : s.added_keys) visit(Name(keys_[i]), Value(keys_[i]));
}

std::uint32_t ProfileDocument::Append(std::string_view text) {
  const auto pos = static_cast<std::uint32_t>(added_.size());
  added_.append(text);
  return pos | kAdded;
}

std::uint32_t ProfileDocument::AppendLine(std::string_view name,
                                          std::string_view value) {
  const auto pos = static_cast<std::uint32_t>(added_.size());
  // `name` may lie in added_, which making room below may move.
  const std::less_equal<const char*> le;
  const bool inside = !name.empty() && le(added_.data(), name.data()) &&
                      le(name.data(), added_.data() + pos);
  const auto at = inside ? static_cast<std::size_t>(name.data() - added_.data())
                         : std::size_t{0};
  added_.reserve(std::size_t{pos} + name.size() + 1 + value.size());
  if (inside) {
    added_.append(added_, at, name.size());
  } else {
    added_.append(name);
  }
  added_.append(1, '=').append(value);
  return pos | kAdded;
}

bool ProfileDocument::Set(std::string_view section, std::string_view key,
                          std::string_view value) {
  if (!IsUtf16()) return SetUtf8(section, key, value);
  // A UTF-16 file holds what its units can: a byte that is no UTF-8 is
  // written as U+FFFD, so it is set as that and reads back as written.
  const bool be = encoding_ == ProfileEncoding::kUtf16Be;
  auto as_stored = [be](std::string_view t) {
    return Utf16ToUtf8(Utf8ToUtf16(t, be), be);
  };
  return SetUtf8(as_stored(section), as_stored(key), as_stored(value));
}

bool ProfileDocument::SetUtf8(std::string_view section, std::string_view key,
                              std::string_view value) {
  if (!WritableKey(key)) return false;
  // Writers set one section's keys in a row: its id is kept, by the name
  // as given.
  SectionId sid = last_section_id_;
  if (sid != kNoSection && SameBytes(section, last_section_)) {
    section = SectionName(sections_[sid]);
  } else if (!SectionToWrite(section, sid)) {
    return false;
  }
  const std::uint32_t id = KeyToWrite(sid, key);
  // The commonest write, a key set to its value again, changes nothing: a
  // value read from the file holds no NUL or line break to cut.
  if (id != kNone && SameBytes(RawValue(keys_[id]), value)) return false;
  // A line break would start a line of its own: a key nobody wrote.
  value = value.substr(0, LineEnd(value));
  return id != kNone ? RewriteKey(id, value) : AddKey(sid, section, key, value);
}

bool ProfileDocument::SectionToWrite(std::string_view& section, SectionId& id) {
  const std::size_t end = LineEnd(section);
  if (end < section.size() && section[end] != '\0') return false;
  const std::string_view name = Trim(section.substr(0, end));
  if (name.empty() || name.find(']') != std::string_view::npos) return false;
  last_section_.assign(section);
  id = last_section_id_ = LookupSection(name, NameIndex::Hash(name));
  section = name;
  return true;
}

std::uint32_t ProfileDocument::KeyToWrite(SectionId section,
                                          std::string_view key) {
  if (section == kNoSection) return kNone;
  // Keys are mostly set in the file's order: the one after the key of
  // this section set last (the first after the last) is tried first.
  Section& s = sections_[section];
  const std::uint32_t next = s.next_key;
  const std::uint32_t id =
      next < s.keys_end && EqualIgnoringCase(Name(keys_[next]), key)
          ? next
          : FindKey(section, key);
  if (id >= s.keys_begin && id < s.keys_end)
    s.next_key = id + 1 < s.keys_end ? id + 1 : s.keys_begin;
  return id;
}

// The key's line takes the new value: written over an edited line where it
// fits, else as a new line in added_.
bool ProfileDocument::RewriteKey(std::uint32_t id, std::string_view value) {
  std::string copy;
  value = Stable(value, copy);
  const Key& old = keys_[id];
  if (RawValue(old) == value) return false;
  const std::string_view name = Name(old), content = Content(old);
  const std::size_t length = name.size() + 1 + value.size();
  if (content.size() == length && content.substr(0, name.size()) == name &&
      content.substr(name.size() + 1) == value && content[name.size()] == '=')
    return false;  // the line reads name=value already
  // The text's last byte, a Ctrl-Z, would read as the end-of-file mark.
  const bool ctrl_z = id == last_key_ && ends_open_ && !tail_ctrl_z_ &&
                      !value.empty() && value.back() == '\x1A';
  if (ctrl_z) value.remove_suffix(1);
  const std::size_t size = size_ - old.len + length;
  if (size > kMaxBytes || added_.size() + length > kMaxBytes) return false;
  std::uint32_t pos = old.pos;
  if (!(old.pos & kAdded)) rewrites_.push_back(Rewrite{id, old.pos, old.len});
  if ((old.pos & kAdded) && old.name_off == 0 && content[name.size()] == '=' &&
      length - ctrl_z <= old.len) {
    // A line that an edit wrote is written over where it fits ("name="
    // stays), so a key set again and again doesn't grow the document.
    if (!value.empty()) {
      std::memcpy(added_.data() + (pos & ~kAdded) + name.size() + 1,
                  value.data(), value.size());
    }
  } else {
    pos = AppendLine(Name(keys_[id]), value);
  }
  ParseKey(At(pos, static_cast<std::uint32_t>(length - ctrl_z)), pos,
           keys_[id]);
  tail_ctrl_z_ = tail_ctrl_z_ || ctrl_z;
  size_ = size;
  changed_ = true;
  return true;
}

// A new key line after the section's anchor, or in a new section at the
// end of the text.
bool ProfileDocument::AddKey(SectionId section, std::string_view section_name,
                             std::string_view key, std::string_view value) {
  // One copy each: the value, section and key may all lie in added_.
  std::string copies[3];
  value = Stable(value, copies[0]);
  section_name = Stable(section_name, copies[1]);
  key = Stable(key, copies[2]);
  const std::size_t length = key.size() + 1 + value.size();
  // A new line after the text's unended last line ends that line first.
  std::size_t grows = length + eol_.size();
  bool closes = false;
  if (section == kNoSection) {
    closes = ends_open_;
    grows += section_name.size() + 2 + eol_.size();
  } else {
    const Section& s = sections_[section];
    closes = ends_open_ && !s.appended && s.anchor_next == body_end_;
  }
  grows += closes ? eol_.size() : 0;
  if (size_ + grows > kMaxBytes ||
      added_.size() + section_name.size() + length > kMaxBytes) {
    return false;
  }
  if (section == kNoSection) {
    section = static_cast<SectionId>(sections_.size());
    Section s;
    s.name_pos = Append(section_name);
    s.name_len = static_cast<std::uint32_t>(section_name.size());
    s.appended = true;
    section_index_.AddNew(NameIndex::Hash(section_name), 0, section);
    sections_.push_back(std::move(s));
    appended_sections_.push_back(section);
  }
  const auto id = static_cast<std::uint32_t>(keys_.size());
  const std::uint32_t pos = AppendLine(key, value);
  Key k;
  ParseKey(At(pos, static_cast<std::uint32_t>(length)), pos, k);
  key_index_.AddNew(NameIndex::Hash(key, section), section, id);
  keys_.push_back(k);
  sections_[section].added_keys.push_back(id);
  if (closes) ends_open_ = false;
  size_ += grows;
  changed_ = true;
  return true;
}

std::string_view ProfileDocument::Stable(std::string_view text,
                                         std::string& copy) const {
  const std::less_equal<const char*> le;
  if (text.empty() || !le(added_.data(), text.data()) ||
      !le(text.data(), added_.data() + added_.size())) {
    return text;
  }
  copy.assign(text);
  return copy;
}

std::string ProfileDocument::Text() const {
  // Edits in the order of the text: keys added after a section's anchor
  // come before a rewritten line that starts at the same place.
  struct Edit {
    std::uint32_t at;
    bool rewrite;
    std::uint32_t id;
    bool operator<(const Edit& o) const {
      return at != o.at ? at < o.at : rewrite < o.rewrite;
    }
  };
  std::vector<Edit> edits;
  edits.reserve(rewrites_.size() + sections_.size());
  for (std::uint32_t i = 0; i < rewrites_.size(); ++i) {
    edits.push_back(Edit{rewrites_[i].pos, true, i});
  }
  for (std::uint32_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    if (!s.appended && !s.added_keys.empty())
      edits.push_back(Edit{s.anchor_next, false, i});
  }
  std::sort(edits.begin(), edits.end());
  std::string out;
  out.reserve(size_);
  bool closed = !base_open_;
  auto close = [&] {
    if (!closed) out += eol_;
    closed = true;
  };
  // A lone CR ending a new line joins an empty line after it into one line
  // end ("\r" + "\n", "\r" + "\r\n"): a reader sees that line no more, and
  // the next key goes after it, as a writer that parses anew would put it.
  auto keys = [&](const Section& s, std::uint32_t& at) {
    for (std::uint32_t k : s.added_keys) {
      out.append(Content(keys_[k])) += eol_;
      if (eol_ != "\r" || at >= body_end_) continue;
      const std::string_view rest(base_.data() + at, body_end_ - at);
      const std::size_t joined = rest.substr(0, 1) == "\n"     ? 1
                                 : rest.substr(0, 2) == "\r\n" ? 2
                                                               : 0;
      out.append(rest.substr(0, joined));
      at += static_cast<std::uint32_t>(joined);
    }
  };
  std::uint32_t cur = 0;
  for (const Edit& e : edits) {
    out.append(base_, cur, e.at - cur);
    cur = e.at;
    if (e.rewrite) {
      const Rewrite& r = rewrites_[e.id];
      out.append(Content(keys_[r.key]));
      cur = r.pos + r.len;
    } else {
      if (e.at == body_end_) close();
      keys(sections_[e.id], cur);
    }
  }
  out.append(base_, cur, body_end_ - cur);
  if (!appended_sections_.empty()) close();
  for (SectionId id : appended_sections_) {
    const Section& s = sections_[id];
    out.append("[").append(SectionName(s)).append("]") += eol_;
    std::uint32_t end = body_end_;
    keys(s, end);
  }
  if (tail_ctrl_z_) out += '\x1A';
  if (!IsUtf16()) return out;
  // An odd last byte is no UTF-16 unit; it stays at the end.
  return utf16_.substr(0, 2) +
         Utf8ToUtf16(out, encoding_ == ProfileEncoding::kUtf16Be) +
         utf16_.substr(utf16_.size() - utf16_.size() % 2);
}

std::vector<std::string_view> ProfileDocument::SectionNames() const {
  std::vector<std::string_view> names;
  names.reserve(sections_.size());
  for (const Section& s : sections_) names.push_back(SectionName(s));
  return names;
}

std::optional<std::int32_t> ProfileDocument::FindInt(
    SectionId section, std::string_view key) const {
  const std::optional<std::string_view> v = Find(section, key);
  if (!v || v->empty()) return std::nullopt;
  return ParseProfileInteger(*v);
}

}  // namespace quillmore
