#include "search/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

namespace quillmore {
namespace {

TEST(NumberTextTest, WholeNumberAndLeadingNumber) {
  struct Case {
    std::string text;
    bool whole;
    double value;  // of the whole text, else of its prefix (like atof)
  } cases[] = {
      {"12.5", true, 12.5},      {" \t-3", true, -3},
      {"+5", true, 5},           {".5", true, 0.5},
      {"5.", true, 5},           {"-1E-2", true, -0.01},
      {"1e999", true, HUGE_VAL}, {"-1e999", true, -HUGE_VAL},
      {"1e-999", true, 0},       {std::string(400, '9'), true, HUGE_VAL},
      {"12 ", false, 12},        {"1.2.3", false, 1.2},
      {"12,5", false, 12},       {"", false, 0},
      {"  ", false, 0},          {".", false, 0},
      {"+-5", false, 0},         {"--5", false, 0},
      {"1e", false, 1},          {"0x10", false, 0},
      {"inf", false, 0},         {"nan", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 12));
    std::optional<double> v = WholeNumber(c.text);
    ASSERT_EQ(v.has_value(), c.whole);
    EXPECT_EQ(v.value_or(c.value), c.value);
    EXPECT_EQ(LeadingNumber(c.text), c.value);
  }
}

// A host that switched to a locale with a decimal comma still reads "12.5"
// as twelve and a half.
TEST(NumberTextTest, DecimalPointWhateverTheLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
    GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
  }
  const double c_library = std::strtod("12,5", nullptr);
  const std::optional<double> point = WholeNumber("12.5");
  const bool comma = WholeNumber("12,5").has_value();
  const double prefix = LeadingNumber("-12.5x");
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(c_library, 12.5) << "the locale has no decimal comma";
  EXPECT_EQ(point, 12.5);
  EXPECT_FALSE(comma);
  EXPECT_EQ(prefix, -12.5);
}

}  // namespace
}  // namespace quillmore
