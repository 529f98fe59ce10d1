#include "search/number_text.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <system_error>

#include "base/ascii.h"

namespace quillmore {
namespace {

// White space of the "C" locale, which is what a number may start with.
bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

// For a decimal number [first, last) that double can't hold: whether it is
// too large rather than too small. Its value is about 0.d x 10^(m + e), m
// from the mantissa's first nonzero digit and e the exponent; double's range
// leaves hundreds of decades on either side of 0, so the sign is enough.
bool TooLarge(const char* first, const char* last) {
  constexpr std::int64_t kCap = 1000000000000000;  // no overflow below
  std::int64_t m = 0;
  bool nonzero = false;
  const char* p = first;
  for (; p != last && IsDigit(*p); ++p) {
    if (nonzero || *p != '0') {
      nonzero = true;
      if (m < kCap) ++m;
    }
  }
  if (!nonzero && p != last && *p == '.') {
    for (++p; p != last && *p == '0'; ++p) {
      if (m > -kCap) --m;
    }
  }
  while (p != last && (IsDigit(*p) || *p == '.')) ++p;
  std::int64_t e = 0;
  if (p != last && (*p == 'e' || *p == 'E')) {
    ++p;
    bool negative = false;
    if (p != last && (*p == '+' || *p == '-')) negative = *p++ == '-';
    for (; p != last && IsDigit(*p); ++p) {
      if (e < kCap) e = e * 10 + (*p - '0');
    }
    if (negative) e = -e;
  }
  return m + e > 0;
}

struct Scan {
  double value = 0;
  std::size_t used = 0;  // 0: no conversion
};

// Digits with an optional point, at most 15 digits and no exponent: the
// digits as an integer, which double holds exactly, divided by a power of
// ten, which it holds exactly too, so the one rounding of the division
// gives the nearest double, as from_chars does. nullopt for anything else.
std::optional<Scan> ShortDecimal(const char* first, const char* last) {
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3, 1e4,  1e5,
                                       1e6,  1e7,  1e8,  1e9, 1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15};
  std::uint64_t digits = 0;
  int count = 0, decimals = -1;  // -1: no point yet
  const char* p = first;
  for (; p != last; ++p) {
    if (IsDigit(*p)) {
      digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
      ++count;
      if (decimals >= 0) ++decimals;
    } else if (*p == '.' && decimals < 0) {
      decimals = 0;
    } else {
      break;
    }
  }
  if (count > 15 || (p != last && (*p == 'e' || *p == 'E'))) {
    return std::nullopt;
  }
  const auto value = static_cast<double>(digits);
  return Scan{decimals > 0 ? value / kPowers[decimals] : value,
              static_cast<std::size_t>(p - first)};
}

Scan ScanNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // A digit, or a point and a digit, must come next; this also keeps "inf"
  // and "nan" out, which from_chars would take.
  const bool starts_number =
      i < text.size() &&
      (IsDigit(text[i]) ||
       (text[i] == '.' && i + 1 < text.size() && IsDigit(text[i + 1])));
  if (!starts_number) return {};
  const char* first = text.data() + i;
  const char* last = text.data() + text.size();
  if (std::optional<Scan> s = ShortDecimal(first, last)) {
    s->used += i;
    if (negative) s->value = -s->value;
    return *s;
  }
  double value = 0;
  // from_chars ignores the locale; the general format takes no hexadecimal.
  auto [end, ec] =
      std::from_chars(first, last, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    value = TooLarge(first, end) ? HUGE_VAL : 0.0;
  } else if (ec != std::errc()) {
    return {};
  }
  return {negative ? -value : value,
          static_cast<std::size_t>(end - text.data())};
}

}  // namespace

std::optional<double> WholeNumber(std::string_view text) {
  Scan s = ScanNumber(text);
  if (s.used == 0 || s.used != text.size()) return std::nullopt;
  return s.value;
}

double LeadingNumber(std::string_view text) { return ScanNumber(text).value; }

}  // namespace quillmore
