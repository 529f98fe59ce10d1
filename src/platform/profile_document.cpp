#include "platform/profile_document.h"

#include <utility>

#include "platform/ascii.h"

namespace quillmore {
namespace {

constexpr std::size_t npos = static_cast<std::size_t>(-1);

// Windows reads a name or value as a C string: it ends at a NUL byte.
std::string_view UpToNul(std::string_view s) {
  return s.substr(0, s.find('\0'));
}

std::string Folded(std::string_view s) { return AsciiUpper(std::string(s)); }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') &&
      v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

ProfileDocument::ProfileDocument(std::string text)
    : encoding_(DetectProfileEncoding(text)) {
  if (IsUtf16()) {
    bytes_ = std::move(text);
    text_ = Utf16ToUtf8(std::string_view(bytes_).substr(2),
                        encoding_ == ProfileEncoding::kUtf16Be);
  } else {
    text_ = std::move(text);
  }
  Parse();
}

void ProfileDocument::Encode() {
  if (!IsUtf16()) return;
  // An odd last byte is no UTF-16 unit; it stays at the end.
  const std::string odd =
      bytes_.size() % 2 == 1 ? bytes_.substr(bytes_.size() - 1) : "";
  bytes_ = bytes_.substr(0, 2) +
           Utf8ToUtf16(text_, encoding_ == ProfileEncoding::kUtf16Be) + odd;
}

void ProfileDocument::Parse() {
  lines_.clear();
  sections_.clear();
  body_end_ = text_.size();
  if (body_end_ > 0 && text_[body_end_ - 1] == '\x1A') --body_end_;
  const std::string_view all(text_);
  // Offsets of a piece of `all`.
  auto span = [&](std::string_view piece) {
    return Span{static_cast<std::size_t>(piece.data() - all.data()),
                piece.size()};
  };
  std::size_t pos = 0;
  if (all.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  while (pos < body_end_) {
    Line line;
    line.begin = pos;
    std::size_t end = pos;
    while (end < body_end_ && text_[end] != '\r' && text_[end] != '\n') ++end;
    line.end = end;
    std::size_t next = end;
    if (next < body_end_) {
      const std::string_view rest = all.substr(next, body_end_ - next);
      if (rest.substr(0, 3) == "\r\r\n") {
        next += 3;
      } else if (rest.substr(0, 2) == "\r\n") {
        next += 2;
      } else {
        next += 1;  // LF or a lone CR
      }
    }
    line.next = next;
    const std::string_view content = Trim(all.substr(pos, end - pos));
    const std::size_t close = content.rfind(']');
    if (!content.empty() && content.front() == '[' &&
        close != std::string_view::npos) {
      line.kind = Kind::kSection;
      line.name = span(Trim(UpToNul(content.substr(1, close - 1))));
      sections_.try_emplace(Folded(View(line.name)), lines_.size());
    } else if (!content.empty() && content.front() != ';') {
      const std::size_t eq = content.find('=');
      if (eq != std::string_view::npos) {
        line.kind = Kind::kKey;
        line.name = span(Trim(UpToNul(content.substr(0, eq))));
        const std::string_view raw = Trim(UpToNul(content.substr(eq + 1)));
        line.raw_value = span(raw);
        line.value = span(Unquote(raw));
      }
    }
    lines_.push_back(line);
    pos = next;
  }
}

std::size_t ProfileDocument::FindSection(std::string_view section) const {
  auto it = sections_.find(Folded(Trim(section)));
  return it == sections_.end() ? npos : it->second;
}

std::optional<std::string_view> ProfileDocument::Find(
    std::string_view section, std::string_view key) const {
  const std::size_t s = FindSection(section);
  if (s == npos) return std::nullopt;
  key = Trim(key);
  for (std::size_t i = s + 1;
       i < lines_.size() && lines_[i].kind != Kind::kSection; ++i) {
    if (lines_[i].kind == Kind::kKey && SameName(View(lines_[i].name), key))
      return View(lines_[i].value);
  }
  return std::nullopt;
}

std::vector<std::string_view> ProfileDocument::SectionNames() const {
  std::vector<std::string_view> names;
  for (const Line& l : lines_) {
    if (l.kind == Kind::kSection) names.push_back(View(l.name));
  }
  return names;
}

std::vector<std::string_view> ProfileDocument::KeyNames(
    std::string_view section) const {
  std::vector<std::string_view> names;
  const std::size_t s = FindSection(section);
  for (std::size_t i = s + 1;
       s != npos && i < lines_.size() && lines_[i].kind != Kind::kSection;
       ++i) {
    if (lines_[i].kind == Kind::kKey) names.push_back(View(lines_[i].name));
  }
  return names;
}

// The file's own line end (that of its first line), so an edit doesn't mix
// styles; a CR CR LF file gets CR LF.
std::string_view ProfileDocument::Eol() const {
  for (const Line& l : lines_) {
    if (l.next > l.end) {
      const std::string_view t =
          std::string_view(text_).substr(l.end, l.next - l.end);
      return t == "\r" ? "\r" : (t == "\n" ? "\n" : "\r\n");
    }
  }
  // A file without a line end yet gets the system's.
#ifdef _WIN32
  return "\r\n";
#else
  return "\n";
#endif
}

bool ProfileDocument::Set(std::string_view section, std::string_view key,
                          std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  if (section.empty() || key.empty() || HasLineBreak(section) ||
      HasLineBreak(key) || section.find(']') != std::string_view::npos ||
      key.find('=') != std::string_view::npos || key.front() == ';' ||
      key.front() == '[') {
    return false;
  }
  // A line break would start a line of its own: a key nobody wrote.
  value = value.substr(0, value.find_first_of("\r\n"));
  const std::string eol(Eol());

  std::string edited;
  const std::size_t s = FindSection(section);
  if (s != npos) {
    std::size_t last = s;  // last non-blank line of the section
    for (std::size_t i = s + 1;
         i < lines_.size() && lines_[i].kind != Kind::kSection; ++i) {
      const Line& l = lines_[i];
      if (l.kind == Kind::kKey && SameName(View(l.name), key)) {
        if (View(l.raw_value) == value) return false;
        edited = text_.substr(0, l.begin);
        edited.append(View(l.name)).append("=").append(value);
        edited.append(text_, l.end, std::string::npos);
        if (edited == text_) return false;
        text_ = std::move(edited);
        Parse();
        Encode();
        return true;
      }
      if (!Trim(std::string_view(text_).substr(l.begin, l.end - l.begin))
               .empty()) {
        last = i;
      }
    }
    const Line& after = lines_[last];
    edited = text_.substr(0, after.next);
    if (after.next == after.end) edited.append(eol);  // last line, unended
    edited.append(key).append("=").append(value).append(eol);
    edited.append(text_, after.next, std::string::npos);
  } else {
    edited = text_.substr(0, body_end_);
    if (!lines_.empty() && lines_.back().next == lines_.back().end)
      edited.append(eol);
    edited.append("[").append(section).append("]").append(eol);
    edited.append(key).append("=").append(value).append(eol);
    edited.append(text_, body_end_, std::string::npos);
  }
  text_ = std::move(edited);
  Parse();
  Encode();
  return true;
}

std::int32_t ProfileDocument::IntegerValue(std::string_view value) {
  // Blanks inside quotes ("' 7'") are skipped like those outside.
  std::string_view s = Trim(value);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  std::uint32_t n = 0;  // wraps modulo 2^32, as the Windows reader does
  for (char c : s) {
    if (!IsDigit(c)) break;
    n = n * 10u + static_cast<std::uint32_t>(c - '0');
  }
  if (negative) n = 0u - n;
  return static_cast<std::int32_t>(n);
}

std::optional<std::int32_t> ProfileDocument::FindInt(
    std::string_view section, std::string_view key) const {
  const std::optional<std::string_view> v = Find(section, key);
  if (!v || v->empty()) return std::nullopt;
  return IntegerValue(*v);
}

}  // namespace quillmore
