#include "profile/profile_encoding.h"

#include <cstdint>

#include "base/utf8.h"

namespace quillmore {
namespace {

void AppendUnit(std::string& out, std::uint32_t unit, bool big_endian) {
  const char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit);
  out += big_endian ? hi : lo;
  out += big_endian ? lo : hi;
}

// The code point of the UTF-8 sequence at `s[i]` and its length; length 0
// when the bytes there are no sequence. Surrogates are accepted (WTF-8);
// overlong forms are not.
std::uint32_t DecodeUtf8(std::string_view s, std::size_t i, std::size_t& len) {
  const auto b = [&](std::size_t k) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[i + k]));
  };
  const std::uint32_t lead = b(0);
  len = lead < 0x80    ? 1
        : lead >= 0xF0 ? 4
        : lead >= 0xE0 ? 3
        : lead >= 0xC2 ? 2
                       : 0;
  if (len == 0 || lead > 0xF4 || i + len > s.size()) {
    len = 0;
    return 0;
  }
  std::uint32_t c = len == 1 ? lead : lead & (0x7F >> len);
  for (std::size_t k = 1; k < len; ++k) {
    if ((b(k) & 0xC0) != 0x80) {
      len = 0;
      return 0;
    }
    c = (c << 6) | (b(k) & 0x3F);
  }
  static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kMin[len] || c > 0x10FFFF) len = 0;
  return c;
}

}  // namespace

ProfileEncoding DetectProfileEncoding(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return ProfileEncoding::kUtf8Bom;
  if (bytes.substr(0, 2) == "\xFF\xFE") return ProfileEncoding::kUtf16Le;
  if (bytes.substr(0, 2) == "\xFE\xFF") return ProfileEncoding::kUtf16Be;
  return ProfileEncoding::kBytes;
}

std::string Utf16ToUtf8(std::string_view units, bool big_endian) {
  std::string out;
  out.reserve(units.size());
  const std::size_t n = units.size() / 2;
  auto unit = [&](std::size_t k) {
    const auto a = static_cast<unsigned char>(units[2 * k]);
    const auto b = static_cast<unsigned char>(units[2 * k + 1]);
    return static_cast<std::uint32_t>(big_endian ? (a << 8) | b : (b << 8) | a);
  };
  for (std::size_t k = 0; k < n; ++k) {
    const std::uint32_t u = unit(k);
    if (u >= 0xD800 && u < 0xDC00 && k + 1 < n && unit(k + 1) >= 0xDC00 &&
        unit(k + 1) < 0xE000) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(k + 1) - 0xDC00));
      ++k;
    } else {
      AppendUtf8(out, u);  // a lone surrogate too
    }
  }
  return out;
}

std::string Utf8ToUtf16(std::string_view utf8, bool big_endian) {
  std::string out;
  out.reserve(utf8.size() * 2);
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t len = 0;
    const std::uint32_t c = DecodeUtf8(utf8, i, len);
    if (len == 0) {
      AppendUnit(out, 0xFFFD, big_endian);
      ++i;
      continue;
    }
    i += len;
    if (c >= 0x10000) {
      AppendUnit(out, 0xD800 + ((c - 0x10000) >> 10), big_endian);
      AppendUnit(out, 0xDC00 + ((c - 0x10000) & 0x3FF), big_endian);
    } else {
      AppendUnit(out, c, big_endian);
    }
  }
  return out;
}

}  // namespace quillmore
