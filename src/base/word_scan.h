// Byte scans that look at eight bytes at a time: the first of a few stop
// bytes, and two texts compared with and without regard to ASCII case.
// They read only inside the views they are given (a tail shorter than a
// word is read byte by byte, or as the view's last eight bytes,
// overlapping), so any text will do; all are inline, since the texts they
// see (INI names and values) are short and a call would cost more than the
// scan.
#ifndef QUILLMORE_BASE_WORD_SCAN_H_
#define QUILLMORE_BASE_WORD_SCAN_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/ascii.h"

namespace quillmore {

inline constexpr std::uint64_t kEveryByte = 0x0101010101010101ull;
inline constexpr std::uint64_t kEveryHighBit = 0x8080808080808080ull;

// The eight bytes at `p`, in the machine's order.
inline std::uint64_t LoadWord(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// Where the first of the bytes `kStops` is in `s`, or its length. On a
// little-endian machine eight bytes at a time: in a word, the lowest byte
// that matches is found exactly (a borrow only marks bytes above it).
template <char... kStops>
inline std::size_t FirstOf(std::string_view s) {
  const char* const p = s.data();
  const std::size_t n = s.size();
  std::size_t i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    auto zero = [](std::uint64_t w) {
      return (w - kEveryByte) & ~w & kEveryHighBit;
    };
    for (; i + 8 <= n; i += 8) {
      const std::uint64_t w = LoadWord(p + i);
      const std::uint64_t m =
          (zero(w ^ (static_cast<unsigned char>(kStops) * kEveryByte)) | ...);
      if (m != 0) return i + static_cast<std::size_t>(std::countr_zero(m) / 8);
    }
  }
  while (i < n && ((p[i] != kStops) && ...)) ++i;
  return i;
}

// a == b.
inline bool SameBytes(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  const char* p = a.data();
  const char* q = b.data();
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 < n; i += 8) {
      if (LoadWord(p + i) != LoadWord(q + i)) return false;
    }
    return LoadWord(p + n - 8) == LoadWord(q + n - 8);  // the last eight
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] != q[i]) return false;
  }
  return true;
}

// a == b without regard to the case of a to z.
inline bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (SameBytes(a, b)) return true;  // names are mostly written as read
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

}  // namespace quillmore

#endif  // QUILLMORE_BASE_WORD_SCAN_H_
