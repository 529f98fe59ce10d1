#include "xml/markup_bounds.h"

namespace quillmore {

bool WithinAttributeBound(std::string_view text, std::size_t max_attributes) {
  std::size_t lt = text.find('<');
  while (lt != std::string_view::npos) {
    const std::size_t next = text.find('<', lt + 1);
    const std::size_t end = next == std::string_view::npos ? text.size() : next;
    const char first = lt + 1 < end ? text[lt + 1] : '/';
    // A shorter stretch holds no more '=' than the bound allows.
    if (end - lt > max_attributes && first != '/' && first != '!' &&
        first != '?') {
      std::size_t attributes = 0;
      char quote = 0;
      for (std::size_t i = lt + 1; i < end; ++i) {
        const char c = text[i];
        if (quote != 0) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          break;
        } else if (c == '=' && ++attributes > max_attributes) {
          return false;
        }
      }
    }
    lt = next;
  }
  return true;
}

}  // namespace quillmore
