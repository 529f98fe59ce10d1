#include "base/utf8.h"

namespace quillmore {

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  char bytes[4];
  const int n = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  for (int i = n - 1; i > 0; --i, c >>= 6) {
    bytes[i] = static_cast<char>(0x80 | (c & 0x3F));
  }
  bytes[0] = static_cast<char>((n == 2 ? 0xC0 : n == 3 ? 0xE0 : 0xF0) | c);
  out.append(bytes, static_cast<std::size_t>(n));
}

}  // namespace quillmore
