#include "search/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

namespace quillmore {
namespace {

TEST(NumberTextTest, WholeNumberTakesOnlyACompleteDecimal) {
  struct Case {
    const char* text;
    bool number;
    double value;
  } cases[] = {
      {"12.5", true, 12.5},  {"  \t-3", true, -3},   {"+5", true, 5},
      {".5", true, 0.5},     {"5.", true, 5},        {"1e3", true, 1000},
      {"-1E-2", true, -0.01}, {"1e999", true, HUGE_VAL},
      {"-1e999", true, -HUGE_VAL}, {"1e-999", true, 0},
      {"0.0000e999999", true, 0},
      {"12 ", false, 0},     {"12a", false, 0},      {"1.2.3", false, 0},
      {"", false, 0},        {"  ", false, 0},       {".", false, 0},
      {"-", false, 0},       {"+-5", false, 0},      {"12,5", false, 0},
      {"1e", false, 0},      {"0x10", false, 0},     {"inf", false, 0},
      {"nan", false, 0},     {"-infinity", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::optional<double> v = WholeNumber(c.text);
    ASSERT_EQ(v.has_value(), c.number);
    if (c.number) {
      EXPECT_EQ(*v, c.value);
    }
  }
  // Underflow keeps no sign worth testing; a long digit run is no overflow
  // of anything.
  EXPECT_EQ(WholeNumber(std::string(400, '9')), HUGE_VAL);
  EXPECT_EQ(WholeNumber("0." + std::string(400, '0') + "1"), 0.0);
}

TEST(NumberTextTest, LeadingNumberReadsTheLongestPrefixLikeAtof) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"1.2.3", 1.2}, {"--5", 0}, {"-5-", -5}, {"5.", 5},   {"abc", 0},
      {"1e", 1},      {"12,5", 12}, {" 7x", 7}, {"0x1A", 0}, {"", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(LeadingNumber(c.text), c.value);
    // The same rules as the C library's, in the "C" locale.
    if (std::string(c.text).find('x') == std::string::npos) {
      EXPECT_EQ(LeadingNumber(c.text), std::atof(c.text));
    }
  }
}

// A host that switched to a locale with a decimal comma still reads "12.5"
// as twelve and a half, and "12,5" is no whole number.
TEST(NumberTextTest, DecimalPointWhateverTheLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr &&
      std::setlocale(LC_ALL, "de_DE.utf8") == nullptr) {
    GTEST_SKIP() << "no German locale installed";
  }
  const double c_library = std::strtod("12,5", nullptr);
  const std::optional<double> point = WholeNumber("12.5");
  const std::optional<double> comma = WholeNumber("12,5");
  const double prefix = LeadingNumber("12.5");
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(c_library, 12.5) << "the locale does not use a decimal comma";
  ASSERT_TRUE(point.has_value());
  EXPECT_EQ(*point, 12.5);
  EXPECT_FALSE(comma.has_value());
  EXPECT_EQ(prefix, 12.5);
}

}  // namespace
}  // namespace quillmore
