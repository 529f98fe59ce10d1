#include "profile/profile_document.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <utility>

#include "base/ascii.h"
#include "profile/profile_integer.h"

namespace quillmore {
namespace {

// Windows reads names and values as C strings: they end at a NUL byte.
std::string_view UpToNul(std::string_view s) {
  return s.substr(0, s.find('\0'));
}

std::string_view NameOf(std::string_view s) { return Trim(UpToNul(s)); }

// a == b, inline: names and values are short, a call to memcmp costs more
// than comparing them.
bool SameBytes(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  const char* p = a.data();
  const char* q = b.data();
  auto word = [](const char* at) {
    std::uint64_t w;
    std::memcpy(&w, at, 8);
    return w;
  };
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 < n; i += 8) {
      if (word(p + i) != word(q + i)) return false;
    }
    return word(p + n - 8) == word(q + n - 8);  // the last eight, overlapping
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] != q[i]) return false;
  }
  return true;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (SameBytes(a, b)) return true;  // names are mostly written as read
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

// Where the first of the bytes `kStops` is in `s`, or its length. Eight
// bytes at a time; in a word, the lowest byte that matches is found exactly
// (a borrow only marks bytes above it).
template <char... kStops>
std::size_t FirstOf(std::string_view s) {
  const char* const p = s.data();
  const std::size_t n = s.size();
  std::size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    auto zero = [](std::uint64_t w) { return (w - kOnes) & ~w & kHigh; };
    for (; i + 8 <= n; i += 8) {
      std::uint64_t w;
      std::memcpy(&w, p + i, 8);
      const std::uint64_t m =
          (zero(w ^ (static_cast<unsigned char>(kStops) * kOnes)) | ...);
      if (m != 0) return i + static_cast<std::size_t>(std::countr_zero(m) / 8);
    }
  }
  while (i < n && ((p[i] != kStops) && ...)) ++i;
  return i;
}

// Where a caller's text ends on one line: a NUL ends it, as a C string; a
// line break would start a line of its own.
std::size_t LineEnd(std::string_view s) { return FirstOf<'\0', '\r', '\n'>(s); }

// Chosen once per process, so no file can be made whose names all fall
// into one bucket.
const std::uint64_t kHashSeed = [] {
  std::uint64_t s = static_cast<std::uint64_t>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  s ^= reinterpret_cast<std::uintptr_t>(&s) * 0x9E3779B97F4A7C15ull;
  return s;
}();

// ASCII a to z as A to Z in eight bytes at once; other bytes as they are.
std::uint64_t FoldWord(std::uint64_t w) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  const std::uint64_t low7 = w & ~kHigh;
  const std::uint64_t from_a = low7 + (0x80 - 'a') * kOnes;  // high bit: >= 'a'
  const std::uint64_t past_z = low7 + (0x80 - 'z' - 1) * kOnes;  // > 'z'
  const std::uint64_t lower = from_a & ~past_z & ~w & kHigh;
  return w ^ (lower >> 2);  // 0x80 >> 2 is the case bit
}

std::uint64_t Mix(std::uint64_t x) {
  x ^= x >> 32;
  x *= 0xD6E8FEB86659FD93ull;
  x ^= x >> 32;
  return x;
}

// The name without regard to ASCII case, in a table for `salt` (a section
// number for keys), eight bytes at a time.
std::uint32_t NameHash(std::string_view name, std::uint64_t salt) {
  constexpr std::uint64_t kOdd = 0x9E3779B97F4A7C15ull;
  std::uint64_t h = kHashSeed ^ salt ^ (name.size() * kOdd);
  const char* p = name.data();
  std::size_t n = name.size();
  for (; n >= 8; n -= 8, p += 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ FoldWord(w)) * kOdd;
    h ^= h >> 29;
  }
  std::uint64_t w = 0;
  if (n > 0 && name.size() >= 8) {
    std::memcpy(&w, p + n - 8, 8);  // the last eight, overlapping
  } else {
    for (std::size_t j = 0; j < n; ++j) {
      w |= std::uint64_t{static_cast<unsigned char>(p[j])} << (8 * j);
    }
  }
  h = (h ^ FoldWord(w)) * kOdd;
  return static_cast<std::uint32_t>(Mix(h));
}

std::uint64_t KeySalt(std::uint32_t section) {
  return (std::uint64_t{section} + 1) * 0x9E3779B97F4A7C15ull;
}

}  // namespace

ProfileDocument::ProfileDocument(std::string text) : base_(std::move(text)) {
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
  size_ = base_.size();
  body_end_ = static_cast<std::uint32_t>(base_.size());
  if (body_end_ > 0 && base_[body_end_ - 1] == '\x1A') {
    --body_end_;
    tail_ctrl_z_ = true;
  }
  // A file without a line end yet gets the system's.
#ifdef _WIN32
  eol_ = "\r\n";
#else
  eol_ = "\n";
#endif
  const std::string_view all(base_);
  const char* const data = all.data();
  // Room for what the text can hold, so nothing grows while parsing: a key
  // needs a line and a '=', a section a line and a '['.
  std::size_t lines = 1, equals = 0, brackets = 0;
  for (char c : all) {
    lines += c == '\n' || c == '\r';
    equals += c == '=';
    brackets += c == '[';
  }
  keys_.reserve(std::min(lines, equals));
  sections_.reserve(std::min(lines, brackets));
  Grow(key_table_, std::min(lines, equals));
  Grow(section_table_, std::min(lines, brackets));
  std::uint32_t pos = 0;
  if (all.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  head_ = pos;
  SectionId current = kNoSection;
  bool first_line = true;
  while (pos < body_end_) {
    // The line ends at the first CR or LF.
    const std::size_t rest = body_end_ - pos;
    const void* lf = std::memchr(data + pos, '\n', rest);
    std::size_t end = lf != nullptr ? static_cast<const char*>(lf) - data
                                    : std::size_t{body_end_};
    if (const void* cr = std::memchr(data + pos, '\r', end - pos)) {
      end = static_cast<const char*>(cr) - data;
    }
    std::size_t next = end;
    if (next < body_end_) {
      const std::string_view t = all.substr(next, body_end_ - next);
      if (t.substr(0, 3) == "\r\r\n") {
        next += 3;
      } else if (t.substr(0, 2) == "\r\n") {
        next += 2;
      } else {
        next += 1;  // LF or a lone CR
      }
    }
    const auto line_end = static_cast<std::uint32_t>(end);
    const auto line_next = static_cast<std::uint32_t>(next);
    if (first_line && next > end) {
      // The file's own line end (that of its first line), so an edit
      // doesn't mix styles; a CR CR LF file gets CR LF.
      const std::string_view t = all.substr(end, next - end);
      eol_ = t == "\r" ? "\r" : (t == "\n" ? "\n" : "\r\n");
    }
    first_line = false;
    const std::string_view content = all.substr(pos, end - pos);
    const std::string_view t = Trim(content);
    const std::size_t close =
        !t.empty() && t.front() == '[' ? t.rfind(']') : std::string_view::npos;
    if (close != std::string_view::npos) {
      const std::string_view name = NameOf(t.substr(1, close - 1));
      const std::uint32_t hash = NameHash(name, 0);
      current = kNoSection;
      if (LookupSection(name, hash) == kNoSection) {
        current = static_cast<SectionId>(sections_.size());
        Section s;
        s.name_pos = static_cast<std::uint32_t>(name.data() - data);
        s.name_len = static_cast<std::uint32_t>(name.size());
        s.anchor_end = line_end;
        s.anchor_next = line_next;
        s.keys_begin = s.keys_end = s.next_key =
            static_cast<std::uint32_t>(keys_.size());
        sections_.push_back(std::move(s));
        IndexSection(current, hash);
      }
    } else if (current != kNoSection && !t.empty()) {
      Section& s = sections_[current];
      s.anchor_end = line_end;
      s.anchor_next = line_next;
      Key k;
      // The first of two equal names counts: a later one is not indexed.
      if (t.front() != ';' && ParseKey(content, pos, k)) {
        keys_.push_back(k);
        const auto id = static_cast<std::uint32_t>(keys_.size() - 1);
        if (IndexKey(current, id, NameHash(Name(k), KeySalt(current)))) {
          s.keys_end = id + 1;
          if (next == end) last_key_ = id;
        } else {
          keys_.pop_back();
        }
      }
    }
    base_open_ = next == end;
    pos = line_next;
  }
  ends_open_ = base_open_;
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

void ProfileDocument::Grow(std::vector<Slot>& table, std::size_t count) {
  if ((count + 1) * 2 <= table.size()) return;
  std::size_t size = std::max<std::size_t>(16, table.size());
  while (size < (count + 1) * 2) size *= 2;
  std::vector<Slot> bigger(size);
  const std::size_t mask = bigger.size() - 1;
  for (const Slot& s : table) {
    if (s.id == kNone) continue;
    std::size_t i = s.hash & mask;
    while (bigger[i].id != kNone) i = (i + 1) & mask;
    bigger[i] = s;
  }
  table.swap(bigger);
}

void ProfileDocument::IndexSection(SectionId id, std::uint32_t hash) {
  Grow(section_table_, sections_.size());
  const std::size_t mask = section_table_.size() - 1;
  std::size_t i = hash & mask;
  while (section_table_[i].id != kNone) i = (i + 1) & mask;
  section_table_[i] = Slot{hash, id, id};
}

bool ProfileDocument::IndexKey(SectionId section, std::uint32_t key,
                               std::uint32_t hash) {
  Grow(key_table_, keys_.size());
  const std::size_t mask = key_table_.size() - 1;
  const std::string_view name = Name(keys_[key]);
  std::size_t i = hash & mask;
  for (; key_table_[i].id != kNone; i = (i + 1) & mask) {
    const Slot& s = key_table_[i];
    if (s.hash == hash && s.section == section &&
        SameName(Name(keys_[s.id]), name)) {
      return false;
    }
  }
  key_table_[i] = Slot{hash, section, key};
  return true;
}

ProfileDocument::SectionId ProfileDocument::FindSection(
    std::string_view section) const {
  section = NameOf(section);
  return LookupSection(section, NameHash(section, 0));
}

ProfileDocument::SectionId ProfileDocument::LookupSection(
    std::string_view section, std::uint32_t hash) const {
  if (section_table_.empty()) return kNoSection;
  const std::size_t mask = section_table_.size() - 1;
  for (std::size_t i = hash & mask; section_table_[i].id != kNone;
       i = (i + 1) & mask) {
    const Slot& s = section_table_[i];
    if (s.hash == hash && SameName(SectionName(sections_[s.id]), section))
      return s.id;
  }
  return kNoSection;
}

std::uint32_t ProfileDocument::FindKey(SectionId section,
                                       std::string_view key) const {
  if (key_table_.empty()) return kNone;
  const std::uint32_t hash = NameHash(key, KeySalt(section));
  const std::size_t mask = key_table_.size() - 1;
  for (std::size_t i = hash & mask; key_table_[i].id != kNone;
       i = (i + 1) & mask) {
    const Slot& s = key_table_[i];
    if (s.hash == hash && s.section == section &&
        SameName(Name(keys_[s.id]), key)) {
      return s.id;
    }
  }
  return kNone;
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
  // A name ends at a NUL; a line break before it, or '=' in a key, can't be
  // written.
  const std::size_t key_end = FirstOf<'\0', '\r', '\n', '='>(key);
  if (key_end < key.size() && key[key_end] != '\0') return false;
  key = Trim(key.substr(0, key_end));
  if (key.empty() || key.front() == ';' || key.front() == '[') return false;
  // Writers set one section's keys in a row: its id is kept, by the name
  // as given (a section's id never changes).
  SectionId sid = last_section_id_;
  if (sid != kNoSection && SameBytes(section, last_section_)) {
    section = SectionName(sections_[sid]);
  } else {
    const std::size_t end = LineEnd(section);
    if (end < section.size() && section[end] != '\0') return false;
    const std::string_view name = Trim(section.substr(0, end));
    if (name.empty() || name.find(']') != std::string_view::npos) return false;
    last_section_.assign(section);
    sid = last_section_id_ = LookupSection(name, NameHash(name, 0));
    section = name;
  }
  // Keys are mostly set in the file's order: the one after the key of
  // this section set last (the first after the last) is tried first.
  std::uint32_t id = kNone;
  if (sid != kNoSection) {
    Section& s = sections_[sid];
    const std::uint32_t next = s.next_key;
    id = next < s.keys_end && SameName(Name(keys_[next]), key)
             ? next
             : FindKey(sid, key);
    if (id >= s.keys_begin && id < s.keys_end)
      s.next_key = id + 1 < s.keys_end ? id + 1 : s.keys_begin;
  }
  // The commonest write, a key set to its value again, changes nothing: a
  // value read from the file holds no NUL or line break to cut.
  if (id != kNone && SameBytes(RawValue(keys_[id]), value)) return false;
  // A line break would start a line of its own: a key nobody wrote.
  value = value.substr(0, LineEnd(value));
  // Texts that lie in added_ are copied first: appending may move it.
  // One string each: the value, section and key may all lie there.
  std::string held[3];
  int owned = 0;
  auto own = [&](std::string_view& v) {
    const std::less_equal<const char*> le;
    if (!v.empty() && le(added_.data(), v.data()) &&
        le(v.data(), added_.data() + added_.size())) {
      held[owned].assign(v);
      v = held[owned++];
    }
  };
  own(value);
  if (id != kNone) {
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
    if ((old.pos & kAdded) && old.name_off == 0 &&
        content[name.size()] == '=' && length - ctrl_z <= old.len) {
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
  own(section);
  own(key);
  const std::size_t length = key.size() + 1 + value.size();
  // A new line after the text's unended last line ends that line first.
  std::size_t grows = length + eol_.size();
  bool closes = false;
  if (sid == kNoSection) {
    closes = ends_open_;
    grows += section.size() + 2 + eol_.size();
  } else {
    const Section& s = sections_[sid];
    closes = ends_open_ && !s.appended && s.anchor_next == body_end_;
  }
  grows += closes ? eol_.size() : 0;
  if (size_ + grows > kMaxBytes ||
      added_.size() + section.size() + length > kMaxBytes) {
    return false;
  }
  if (sid == kNoSection) {
    sid = static_cast<SectionId>(sections_.size());
    Section s;
    s.name_pos = Append(section);
    s.name_len = static_cast<std::uint32_t>(section.size());
    s.appended = true;
    sections_.push_back(std::move(s));
    IndexSection(sid, NameHash(section, 0));
    appended_sections_.push_back(sid);
  }
  const auto key_id = static_cast<std::uint32_t>(keys_.size());
  const std::uint32_t pos = AppendLine(key, value);
  Key k;
  ParseKey(At(pos, static_cast<std::uint32_t>(length)), pos, k);
  keys_.push_back(k);
  IndexKey(sid, key_id, NameHash(key, KeySalt(sid)));
  sections_[sid].added_keys.push_back(key_id);
  if (closes) ends_open_ = false;
  size_ += grows;
  changed_ = true;
  return true;
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
