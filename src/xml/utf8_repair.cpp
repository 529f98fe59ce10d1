#include "xml/utf8_repair.h"

#include <cstddef>

namespace quillmore {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed sequence at `i`, or 0 when it is ill-formed;
// `valid_prefix` then holds how many bytes form a maximal subpart (>= 1).
std::size_t SequenceLength(std::string_view s, std::size_t i,
                           std::size_t& valid_prefix) {
  const auto byte = [&](std::size_t k) {
    return static_cast<unsigned char>(s[k]);
  };
  const unsigned char lead = byte(i);
  valid_prefix = 1;
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k >= s.size()) return 0;
    const unsigned char b = byte(i + k);
    const bool ok = k == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
    if (!ok) return 0;
    valid_prefix = k + 1;
  }
  return length;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  std::size_t prefix;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = SequenceLength(text, i, prefix);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string RepairUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  std::size_t prefix;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = SequenceLength(text, i, prefix);
    if (n == 0) {
      out += kReplacement;
      i += prefix;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

}  // namespace quillmore
