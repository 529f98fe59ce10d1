#include "search/ascii_search.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>

namespace quillmore {
namespace {

// A small alphabet makes partial matches and borders frequent; "@" and "`"
// (0x40, 0x60) and the two bytes above 0x7F differ only in bit 0x20 like
// letters, but are no case pair.
TEST(AsciiSearchTest, AgreesWithANaiveSearchInLinearTime) {
  auto upper = [](std::string s) {
    for (char& c : s) c = c >= 'a' && c <= 'z' ? c - 32 : c;
    return s;
  };
  EXPECT_TRUE(ContainsIgnoringCase("aaab", "AAB"));  // after a partial match
  std::mt19937 rng(7);
  auto make = [&](std::size_t n) {
    std::string s(n, ' ');
    for (char& c : s) c = "aAbB@`\xC9\xE9"[rng() % 8];
    return s;
  };
  for (int round = 0; round < 5000; ++round) {
    const std::string text = make(rng() % 40), pattern = make(rng() % 7);
    SCOPED_TRACE(text + " / " + pattern);
    ASSERT_EQ(ContainsIgnoringCase(text, pattern),
              upper(text).find(upper(pattern)) != std::string::npos);
  }
  // The input that makes a naive search quadratic, with a pattern longer
  // than the inline work area; the time limit is generous.
  const std::string many(1 << 22, 'a'), p = std::string(40000, 'A') + "B";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ContainsIgnoringCase(many, p));
  EXPECT_TRUE(ContainsIgnoringCase(many + "b", p));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace quillmore
