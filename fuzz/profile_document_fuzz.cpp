// Any bytes as an INI file, then any sequence of key writes: the indexed
// editor gives exactly the text, results and lookups of a plain reference
// that rewrites the whole text and parses it again after every write.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ascii.h"
#include "profile/profile_document.h"
#include "profile/profile_encoding.h"

namespace {

using quillmore::Fold;
using quillmore::Trim;

// Names and values end at a NUL byte, in the file as in a caller's text.
std::string_view Name(std::string_view s) {
  return Trim(s.substr(0, s.find('\0')));
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

// Lines of the text, each with its content and its line end; every lookup
// and write scans them. A UTF-16 file is read and edited as UTF-8.
class Reference {
 public:
  explicit Reference(std::string text) : text_(std::move(text)) {
    encoding_ = quillmore::DetectProfileEncoding(text_);
    if (Utf16()) {
      head_ = text_.substr(0, 2);
      odd_ = text_.substr(text_.size() - text_.size() % 2);
      text_ = quillmore::Utf16ToUtf8(text_.substr(2), BigEndian());
    }
    Parse();
  }

  std::optional<std::string_view> Find(std::string_view section,
                                       std::string_view key) const {
    const std::size_t s = FindSection(section);
    if (s == kNone) return std::nullopt;
    key = Name(key);
    for (std::size_t i = s + 1; i < lines_.size() && !lines_[i].header; ++i) {
      if (lines_[i].key && SameName(lines_[i].name, key)) {
        const std::string_view v = lines_[i].raw;
        const bool quoted =
            v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0];
        return quoted ? v.substr(1, v.size() - 2) : v;
      }
    }
    return std::nullopt;
  }

  bool Set(std::string_view section, std::string_view key,
           std::string_view value) {
    std::string held[3];
    if (Utf16()) {
      std::string_view* texts[3] = {&section, &key, &value};
      for (int i = 0; i < 3; ++i) {
        held[i] = quillmore::Utf16ToUtf8(
            quillmore::Utf8ToUtf16(*texts[i], BigEndian()), BigEndian());
        *texts[i] = held[i];
      }
    }
    section = Name(section);
    key = Name(key);
    if (section.empty() || key.empty() ||
        section.find_first_of("\r\n]") != std::string_view::npos ||
        key.find_first_of("\r\n=") != std::string_view::npos || key[0] == ';' ||
        key[0] == '[') {
      return false;
    }
    value = value.substr(0, value.find('\0'));
    value = value.substr(0, value.find_first_of("\r\n"));
    std::string eol = "\n";
    if (!lines_.empty() && lines_[0].next > lines_[0].end) {
      const std::string_view t(text_.data() + lines_[0].end,
                               lines_[0].next - lines_[0].end);
      eol = t == "\r" ? "\r" : (t == "\n" ? "\n" : "\r\n");
    }
    std::string edited;
    const std::size_t s = FindSection(section);
    if (s != kNone) {
      std::size_t last = s;
      for (std::size_t i = s + 1; i < lines_.size() && !lines_[i].header; ++i) {
        const Line& l = lines_[i];
        if (l.key && SameName(l.name, key)) {
          if (l.raw == value) return false;
          edited = text_.substr(0, l.begin) + std::string(l.name) + "=" +
                   std::string(value) + text_.substr(l.end);
          return Replace(std::move(edited));
        }
        if (!Trim(std::string_view(text_).substr(l.begin, l.end - l.begin))
                 .empty()) {
          last = i;
        }
      }
      const Line& after = lines_[last];
      edited = text_.substr(0, after.next);
      if (after.next == after.end) edited += eol;
      edited += std::string(key) + "=" + std::string(value) + eol;
      edited += text_.substr(after.next);
    } else {
      edited = text_.substr(0, body_end_);
      if (!lines_.empty() && lines_.back().next == lines_.back().end)
        edited += eol;
      edited += "[" + std::string(section) + "]" + eol + std::string(key) +
                "=" + std::string(value) + eol + text_.substr(body_end_);
    }
    return Replace(std::move(edited));
  }

  std::string text() const {
    if (!Utf16()) return text_;
    return head_ + quillmore::Utf8ToUtf16(text_, BigEndian()) + odd_;
  }

 private:
  bool Utf16() const {
    return encoding_ == quillmore::ProfileEncoding::kUtf16Le || BigEndian();
  }
  bool BigEndian() const {
    return encoding_ == quillmore::ProfileEncoding::kUtf16Be;
  }

  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  struct Line {
    std::size_t begin, end, next;
    bool header = false, key = false;
    std::string_view name, raw;
  };

  bool Replace(std::string edited) {
    if (edited == text_) return false;
    text_ = std::move(edited);
    Parse();
    return true;
  }

  std::size_t FindSection(std::string_view section) const {
    section = Name(section);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      if (lines_[i].header && SameName(lines_[i].name, section)) return i;
    }
    return kNone;
  }

  void Parse() {
    lines_.clear();
    body_end_ = text_.size();
    if (body_end_ > 0 && text_[body_end_ - 1] == '\x1A') --body_end_;
    const std::string_view all(text_);
    std::size_t pos = all.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    while (pos < body_end_) {
      Line l;
      l.begin = l.end = pos;
      while (l.end < body_end_ && text_[l.end] != '\r' && text_[l.end] != '\n')
        ++l.end;
      const std::string_view rest = all.substr(l.end, body_end_ - l.end);
      l.next = l.end + (rest.empty()                    ? 0
                        : rest.substr(0, 3) == "\r\r\n" ? 3
                        : rest.substr(0, 2) == "\r\n"   ? 2
                                                        : 1);
      const std::string_view c = Trim(all.substr(pos, l.end - pos));
      const std::size_t close = c.rfind(']');
      if (!c.empty() && c[0] == '[' && close != std::string_view::npos) {
        l.header = true;
        l.name = Name(c.substr(1, close - 1));
      } else if (!c.empty() && c[0] != ';' &&
                 c.find('=') != std::string_view::npos) {
        l.key = true;
        l.name = Name(c.substr(0, c.find('=')));
        l.raw = Name(c.substr(c.find('=') + 1));
      }
      lines_.push_back(l);
      pos = l.next;
    }
  }

  quillmore::ProfileEncoding encoding_ = quillmore::ProfileEncoding::kBytes;
  std::string head_, odd_;  // a UTF-16 file's byte-order mark and odd byte
  std::string text_;
  std::size_t body_end_ = 0;
  std::vector<Line> lines_;
};

// Shows what differs before stopping.
std::string Escaped(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    out += (c >= 0x20 && c < 0x7F && c != '\\') ? std::string(1, c) : hex;
  }
  return out;
}

[[noreturn]] void Fail(const char* what, const std::string& got,
                       const std::string& want) {
  std::fprintf(stderr, "%s\n--- editor\n%s\n--- reference\n%s\n", what,
               Escaped(got).c_str(), Escaped(want).c_str());
  std::abort();
}

std::string Show(std::optional<std::string_view> v) {
  return v ? "\"" + std::string(*v) + "\"" : "(missing)";
}

std::string Pick(FuzzedDataProvider& in, const std::vector<std::string>& set) {
  if (in.ConsumeBool()) return in.ConsumeRandomLengthString(12);
  return set[in.ConsumeIntegralInRange<std::size_t>(0, set.size() - 1)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using quillmore::ProfileDocument;
  FuzzedDataProvider in(data, size);
  const std::string text = in.ConsumeRandomLengthString(4096);
  ProfileDocument doc(text);
  Reference ref(text);
  const std::vector<std::string> sections = {"A",  "a", " B ", "S1",
                                             "x]", "",  "\t"};
  const std::vector<std::string> keys = {
      "k", "K", " j", "=", ";c", "[x", "LEN", "a b", std::string("k\0x", 3)};
  const std::vector<std::string> values = {"",
                                           "v",
                                           " v ",
                                           "\"q\"",
                                           "1\x1A",
                                           "\x1A",
                                           "x\ny=1",
                                           "2\r",
                                           "'",
                                           "v",
                                           std::string("v\0w", 3)};
  std::vector<std::pair<std::string, std::string>> names;
  bool changed = false;
  while (in.remaining_bytes() > 0 && names.size() < 64) {
    const std::string s = Pick(in, sections), k = Pick(in, keys),
                      v = Pick(in, values);
    const std::string before = ref.text();
    const bool set = doc.Set(s, k, v);
    if (set != ref.Set(s, k, v))
      Fail("Set's result", before, s + "/" + k + "/" + v);
    changed = changed || set;
    names.emplace_back(s, k);
    if (in.ConsumeBool()) {
      // Lookups between writes read what was written.
      if (doc.Find(s, k) != ref.Find(s, k))
        Fail("lookup between writes", Show(doc.Find(s, k)),
             Show(ref.Find(s, k)));
    }
  }
  const ProfileDocument copy = doc;
  if (doc.Text() != ref.text()) Fail("text", doc.Text(), ref.text());
  if (copy.Text() != ref.text()) Fail("copy's text", copy.Text(), ref.text());
  if (doc.changed() != changed) Fail("changed", "", "");
  const ProfileDocument reread(ref.text());
  for (const auto& name : names) {
    const std::string& s = name.first;
    const auto want = ref.Find(s, name.second);
    if (doc.Find(s, name.second) != want)
      Fail("lookup", Show(doc.Find(s, name.second)), Show(want));
    if (reread.Find(s, name.second) != want)
      Fail("lookup after parsing", Show(reread.Find(s, name.second)),
           Show(want));
    doc.ForEachKey(
        doc.FindSection(s), [&](std::string_view key, std::string_view value) {
          if (ref.Find(s, key) != value)
            Fail("key visited", std::string(value), Show(ref.Find(s, key)));
        });
  }
  return 0;
}
