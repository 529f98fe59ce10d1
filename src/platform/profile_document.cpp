#include "platform/profile_document.h"

#include <utility>

namespace quillmore {
namespace {

constexpr std::size_t npos = static_cast<std::size_t>(-1);

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Fold(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

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

ProfileDocument::ProfileDocument(std::string text) : text_(std::move(text)) {
  Parse();
}

void ProfileDocument::Parse() {
  lines_.clear();
  body_end_ = text_.size();
  if (body_end_ > 0 && text_[body_end_ - 1] == '\x1A') --body_end_;
  std::size_t pos = 0;
  if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  while (pos < body_end_) {
    Line line;
    line.begin = pos;
    std::size_t end = pos;
    while (end < body_end_ && text_[end] != '\r' && text_[end] != '\n') ++end;
    line.end = end;
    std::size_t next = end;
    if (next < body_end_) {
      if (text_[next] == '\n') {
        next += 1;
      } else if (text_.compare(next, 2, "\r\n") == 0) {
        next += 2;
      } else if (text_.compare(next, 3, "\r\r\n") == 0) {
        next += 3;
      } else {
        next += 1;
      }
    }
    line.next = next;
    std::string_view content =
        Trim(std::string_view(text_).substr(pos, end - pos));
    if (!content.empty() && content.front() == '[') {
      std::size_t close = content.rfind(']');
      line.kind = Kind::kSection;
      line.name = Trim(close == std::string_view::npos || close == 0
                           ? content.substr(1)
                           : content.substr(1, close - 1));
    } else if (!content.empty() && content.front() != ';') {
      std::size_t eq = content.find('=');
      if (eq != std::string_view::npos) {
        line.kind = Kind::kKey;
        line.name = Trim(content.substr(0, eq));
        line.raw_value = Trim(content.substr(eq + 1));
        line.value = Unquote(line.raw_value);
      }
    }
    lines_.push_back(line);
    pos = next;
  }
}

std::size_t ProfileDocument::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::kSection && SameName(lines_[i].name, section))
      return i;
  }
  return npos;
}

std::optional<std::string_view> ProfileDocument::Find(
    std::string_view section, std::string_view key) const {
  std::size_t s = FindSection(section);
  if (s == npos) return std::nullopt;
  for (std::size_t i = s + 1;
       i < lines_.size() && lines_[i].kind != Kind::kSection; ++i) {
    if (lines_[i].kind == Kind::kKey && SameName(lines_[i].name, key))
      return lines_[i].value;
  }
  return std::nullopt;
}

std::string_view ProfileDocument::Eol() const {
  for (const Line& l : lines_) {
    if (l.next > l.end) {
      std::string_view t = std::string_view(text_).substr(l.end, l.next - l.end);
      return t == "\r" ? "\r" : (t == "\n" ? "\n" : "\r\n");
    }
  }
  return "\n";
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
  value = value.substr(0, value.find_first_of("\r\n"));
  const std::string eol(Eol());

  std::string edited;
  std::size_t s = FindSection(section);
  if (s != npos) {
    std::size_t last = s;  // last non-blank line of the section
    for (std::size_t i = s + 1;
         i < lines_.size() && lines_[i].kind != Kind::kSection; ++i) {
      const Line& l = lines_[i];
      if (l.kind == Kind::kKey && SameName(l.name, key)) {
        if (l.raw_value == Trim(value) && Trim(value) == value) return false;
        edited = text_.substr(0, l.begin);
        edited.append(l.name).append("=").append(value);
        edited.append(text_, l.end, std::string::npos);
        text_ = std::move(edited);
        Parse();
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
  return true;
}

}  // namespace quillmore
