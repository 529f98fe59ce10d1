#include "textsql/script_format.h"

namespace quillmore {

std::string ExpandScript(std::string_view format,
                         std::initializer_list<std::string_view> args,
                         std::size_t limit, Placeholders which) {
  std::string out;
  out.reserve(format.size() < limit ? format.size() : limit);
  AppendExpanded(out, format, args, limit, which);
  return out;
}

void AppendExpanded(std::string& out, std::string_view format,
                    std::initializer_list<std::string_view> args,
                    std::size_t limit, Placeholders which) {
  const std::size_t base = out.size();
  auto next = args.begin();
  auto put = [&](std::string_view piece) {
    const std::size_t room = limit - (out.size() - base);
    out.append(piece.substr(0, room));
  };
  for (std::size_t i = 0; i < format.size() && out.size() - base < limit; ++i) {
    const char c = format[i];
    if (c != '%' || i + 1 == format.size()) {
      out.push_back(c);
      continue;
    }
    const char conv = format[i + 1];
    if (conv == 's' || (conv == 'd' && which == Placeholders::kTextAndNumber)) {
      if (next != args.end()) put(*next++);
      ++i;
    } else if (conv == '%') {
      out.push_back('%');
      ++i;
    } else {
      out.push_back(c);
    }
  }
}

std::string_view ScriptText(std::string_view bytes) {
  return bytes.substr(0, bytes.find('\0'));
}

}  // namespace quillmore
