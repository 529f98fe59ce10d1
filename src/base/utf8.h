// The library's one UTF-8 encoder.
#ifndef QUILLMORE_BASE_UTF8_H_
#define QUILLMORE_BASE_UTF8_H_

#include <cstdint>
#include <string>

namespace quillmore {

// Appends the code point `c` (at most 0x10FFFF) to `out` as UTF-8, in one
// to four bytes. A surrogate gets the three-byte form it would have as a
// character (WTF-8), which no UTF-8 decoder accepts but ours of UTF-16
// profile files (profile_encoding.h) turns back into the same unit.
void AppendUtf8(std::string& out, std::uint32_t c);

}  // namespace quillmore

#endif  // QUILLMORE_BASE_UTF8_H_
