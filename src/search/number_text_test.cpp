#include "search/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

namespace quillmore {
namespace {

void ExpectNumbers() {
  struct Case {
    std::string text;
    bool whole;
    double value;  // of the whole text, else of its prefix (like atof)
  } cases[] = {
      {"12.5", true, 12.5},      {" \t-3", true, -3},
      {"+5", true, 5},           {"\n\v\f\r7", true, 7},
      {".5", true, 0.5},         {"5.", true, 5},
      {"-1E-2", true, -0.01},    {"-1e999", true, -HUGE_VAL},
      {"1e999", true, HUGE_VAL}, {"1e-999", true, 0},
      {"12 ", false, 12},        {std::string(400, '9'), true, HUGE_VAL},
      {"1.2.3", false, 1.2},     {"12,5", false, 12},
      {"-12.5x", false, -12.5},  {"  ", false, 0},
      {".", false, 0},           {"+-5", false, 0},
      {"--5", false, 0},         {"1e", false, 1},
      {"0x10", false, 0},        {"inf", false, 0},
      {"nan", false, 0},         {"", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 12));
    std::optional<double> v = WholeNumber(c.text);
    EXPECT_EQ(v.has_value(), c.whole);
    EXPECT_EQ(v.value_or(c.value), c.value);
    EXPECT_EQ(LeadingNumber(c.text), c.value);
  }
}

TEST(NumberTextTest, WholeNumberAndLeadingNumber) { ExpectNumbers(); }

// A host that switched to a locale with a decimal comma still reads "12.5"
// as twelve and a half.
TEST(NumberTextTest, DecimalPointWhateverTheLocale) {
  struct Restore {
    std::string saved = std::setlocale(LC_ALL, nullptr);
    ~Restore() { std::setlocale(LC_ALL, saved.c_str()); }
  } restore;
#ifdef _WIN32
  const char* const decimal_comma = "German_Germany.1252";
#else
  const char* const decimal_comma = "de_DE.UTF-8";
#endif
  if (std::setlocale(LC_ALL, decimal_comma) == nullptr) {
    GTEST_SKIP() << "locale " << decimal_comma << " is not installed";
  }
  ASSERT_EQ(std::strtod("12,5", nullptr), 12.5) << "no decimal comma";
  ExpectNumbers();
}

}  // namespace
}  // namespace quillmore
