#include "search/record_matcher.h"

#include <optional>

#include "base/ascii.h"
#include "search/ascii_search.h"
#include "search/item_chain.h"
#include "search/number_text.h"

namespace quillmore {
namespace {

constexpr std::uint8_t kKeywordKind = 2;

// Printable ASCII other than the blank.
inline bool IsSignificant(unsigned char c) { return c > 0x20 && c < 0x7F; }

// Skipped by the digit tests 2 and 3; they differ on DEL (0x7F), which the
// test from the start does not skip and the one from the end does.
inline bool SkippedFromStart(unsigned char c) {
  return c <= 0x20 || c > 0x7F || c == '.' || c == ',';
}
inline bool SkippedFromEnd(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || c == '.' || c == ',';
}

// The first byte of `text` (from the end when `backwards`) that `skip`
// does not skip; nullopt when there is none.
template <typename Skip>
std::optional<unsigned char> FirstKept(std::string_view text, bool backwards,
                                       Skip skip) {
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[backwards ? n - 1 - i : i]);
    if (!skip(c)) return c;
  }
  return std::nullopt;
}

bool Passes(std::optional<unsigned char> c, bool digit_wanted) {
  return !c.has_value() || IsDigit(*c) == digit_wanted;
}

// The numbers of a record text are the runs that one pass from the start
// takes: a "-" can start a number, a "." continues one, and any other byte
// ends it. Only the first and the last number are ever compared, so each is
// looked for from its own end of the text, and the text between them is
// not read. Both are given as their texts, empty when the text holds no
// digit, and read like atof (LeadingNumber) only when compared.

std::string_view FirstNumber(std::string_view text) {
  // The number being collected is always the run text[begin, begin + len):
  // signs before its first digit, then digits and points.
  std::size_t begin = 0;
  std::size_t len = 0;
  bool digits = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (IsDigit(c) || (c == '-' && !digits)) {
      if (len == 0) begin = i;
      ++len;
      digits = digits || IsDigit(c);
    } else if (digits && c == '.') {
      ++len;
    } else if (digits) {
      break;  // the first number ends here
    } else {
      len = 0;  // drops lone signs
    }
  }
  return digits ? text.substr(begin, len) : std::string_view();
}

// The run of the text's last digit: the digits and points before it from
// the first digit on, and the "-" signs just before that digit, except a
// first one that ends a number before it (in 10--20 the number is -20).
// Points after the last digit would not change the value read.
std::string_view LastNumber(std::string_view text) {
  const auto is_digit = [&](std::size_t i) { return IsDigit(text[i]); };
  std::size_t end = text.size();
  while (end > 0 && !is_digit(end - 1)) --end;
  if (end == 0) return {};
  const std::size_t last = end - 1;
  std::size_t run = last;  // digits and points before, from the first digit
  while (run > 0 && (is_digit(run - 1) || text[run - 1] == '.')) --run;
  while (!is_digit(run)) ++run;
  std::size_t begin = run;
  while (begin > 0 && text[begin - 1] == '-') --begin;
  if (begin < run) {
    // A number just before the signs (points may follow its digits) is
    // ended by the first sign, which starts nothing.
    std::size_t before = begin;
    while (before > 0 && text[before - 1] == '.') --before;
    if (before > 0 && is_digit(before - 1)) ++begin;
  }
  return text.substr(begin, end - begin);
}

// The first and the last number of the record text, each looked for on
// first need and kept for the rest of the call.
class LazyNumbers {
 public:
  explicit LazyNumbers(std::string_view text) : text_(text) {}
  std::string_view Get(bool last) {
    std::optional<std::string_view>& n = numbers_[last ? 1 : 0];
    if (!n) n = last ? LastNumber(text_) : FirstNumber(text_);
    return *n;
  }

 private:
  std::string_view text_;
  std::optional<std::string_view> numbers_[2];
};

// The parameter's bounds against the record's numbers: value 1 with code 0
// "=", 1 ">" or 2 ">=", value 2 with code 3 "<" or 4 "<="; other codes test
// nothing.
bool PassesNumbers(const _tagITEMSEARCHINFO& item, const _tagSEARCHPARAM& param,
                   LazyNumbers& numbers) {
  const std::string_view text1 = FieldView(param.szValue1);
  const std::string_view text2 = FieldView(param.szValue2);
  if (text1.empty() && text2.empty()) return true;
  std::optional<double> v1, v2;
  if (!text1.empty() && !(v1 = WholeNumber(text1))) return false;
  if (!text2.empty() && !(v2 = WholeNumber(text2))) return false;
  const std::string_view found = numbers.Get(item.nFindType != 0);
  if (found.empty()) return false;
  const double n = LeadingNumber(found);
  if (v1) {
    switch (param.byCompare1) {
      case 0:
        if (!(n == *v1)) return false;
        break;
      case 1:
        if (!(n > *v1)) return false;
        break;
      case 2:
        if (!(n >= *v1)) return false;
        break;
      default:
        break;
    }
  }
  if (v2) {
    switch (param.byCompare2) {
      case 3:
        if (!(n < *v2)) return false;
        break;
      case 4:
        if (!(n <= *v2)) return false;
        break;
      default:
        break;
    }
  }
  return true;
}

// One definition of a parameter's chain; `use_values` for the last one.
bool PassesElement(std::string_view record, const _tagITEMSEARCHINFO& item,
                   const _tagSEARCHPARAM& param, bool use_values,
                   LazyNumbers& numbers) {
  if (item.byType != kKeywordKind) return true;
  if (!PassesShapeTest(record, item.nSplit)) return false;
  const std::string_view keyword = FieldView(item.szKeyword);
  if (!keyword.empty() && !ContainsIgnoringCase(record, keyword)) return false;
  const std::string_view no_keyword = FieldView(item.szNoKeyword);
  if (!no_keyword.empty() && ContainsIgnoringCase(record, no_keyword)) {
    return false;
  }
  const std::string_view defined = FieldView(item.szDefinedValue);
  if (!defined.empty()) return ContainsIgnoringCase(record, defined);
  if (!use_values) return true;
  if (item.dwFindNumber == 0) {
    return ContainsIgnoringCase(record, FieldView(param.szValue1));
  }
  return PassesNumbers(item, param, numbers);
}

}  // namespace

bool PassesShapeTest(std::string_view text, int split) {
  switch (split) {
    case 0:
      return Passes(
          FirstKept(text, false,
                    [](unsigned char c) { return !IsSignificant(c); }),
          false);
    case 1:
      return Passes(
          FirstKept(text, true,
                    [](unsigned char c) { return !IsSignificant(c); }),
          false);
    case 2:
      return Passes(FirstKept(text, false, SkippedFromStart), true);
    case 3:
      return Passes(FirstKept(text, true, SkippedFromEnd), true);
    default:
      return true;
  }
}

bool MatchesSearch(std::string_view record,
                   std::span<const _tagSEARCHPARAM> params, int join_mode,
                   std::span<const _tagITEMSEARCHINFO> items) {
  const bool all = join_mode == 0;
  bool tested = false;
  LazyNumbers numbers(record);
  for (const _tagSEARCHPARAM& param : params) {
    if (param.nItemIndex < 0) continue;
    if (static_cast<std::size_t>(param.nItemIndex) >= items.size()) {
      return false;
    }
    const ItemChain chain =
        ChainOf(items, static_cast<std::size_t>(param.nItemIndex));
    for (std::size_t i = 0; i < chain.size; ++i) {
      const bool pass = PassesElement(record, *chain.items[i], param,
                                      i + 1 == chain.size, numbers);
      tested = true;
      if (all && !pass) return false;
      if (!all && pass) return true;
    }
  }
  return all || !tested;
}

}  // namespace quillmore
