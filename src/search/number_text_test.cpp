#include "search/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <tuple>

namespace quillmore {
namespace {

// Whole numbers as strtod reads them to the end, prefixes as atof reads
// them; a host that switched to a locale with a decimal comma still reads
// "12.5" as twelve and a half.
TEST(NumberTextTest, WholeAndLeadingNumbersWhateverTheLocale) {
  // Text, whether it is a whole number, its value (else its prefix's).
  const std::tuple<std::string, bool, double> cases[] = {
      // clang-format off
      {"12.5", true, 12.5}, {" \t\n\v\f\r-3", true, -3}, {"+5", true, 5},
      {".5", true, 0.5}, {"5.", true, 5}, {"-1E-2", true, -0.01},
      {"-1e999", true, -HUGE_VAL}, {"1e-999", true, 0},
      {std::string(400, '9'), true, HUGE_VAL}, {"12 ", false, 12},
      {"1.2.3", false, 1.2}, {"12,5", false, 12}, {"-12.5x", false, -12.5},
      {".", false, 0}, {"+-5", false, 0}, {"1e", false, 1},
      {"0x10", false, 0}, {"inf", false, 0}, {"", false, 0},
      // clang-format on
  };
#ifdef _WIN32
  const char* const decimal_comma = "German_Germany.1252";
#else
  const char* const decimal_comma = "de_DE.UTF-8";
#endif
  for (const char* locale : {"C", decimal_comma}) {
    if (std::setlocale(LC_ALL, locale) == nullptr) {
      GTEST_SKIP() << "locale " << locale << " is not installed";
    }
    for (const auto& [text, whole, value] : cases) {
      SCOPED_TRACE(std::string(locale) + " " + text.substr(0, 12));
      const std::optional<double> v = WholeNumber(text);
      EXPECT_EQ(v.has_value(), whole);
      EXPECT_EQ(v.value_or(value), value);
      EXPECT_EQ(LeadingNumber(text), value);
    }
  }
  std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace quillmore
