#include "search/ascii_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quillmore {
namespace {

// Upper-cases a to z only, as the search folds them.
std::string Upper(std::string s) {
  for (char& c : s) c = c >= 'a' && c <= 'z' ? c - 32 : c;
  return s;
}

// A small alphabet makes partial matches and borders frequent; "@" and "`"
// (0x40, 0x60) and the two bytes above 0x7F differ only in bit 0x20 like
// letters, but are no case pair.
TEST(AsciiSearchTest, AgreesWithANaiveSearch) {
  // Found after a partial match, and at the first byte.
  EXPECT_TRUE(ContainsIgnoringCase("aab", "AB"));
  EXPECT_TRUE(ContainsIgnoringCase("Xab", "x"));
  std::mt19937 rng(7);
  const std::string alphabet = "aAbB@`\xC9\xE9";
  auto make = [&](std::size_t n) {
    std::string s;
    while (s.size() < n) s += alphabet[rng() % alphabet.size()];
    return s;
  };
  for (int round = 0; round < 5000; ++round) {
    const std::string text = make(rng() % 40);
    const std::string pattern = make(rng() % 7);
    SCOPED_TRACE(text + " / " + pattern);
    ASSERT_EQ(ContainsIgnoringCase(text, pattern),
              Upper(text).find(Upper(pattern)) != std::string::npos);
  }
  // Patterns longer than the inline work area.
  const std::string a100 = std::string(100, 'a');
  EXPECT_TRUE(ContainsIgnoringCase(a100 + "b", std::string(70, 'A') + "B"));
  EXPECT_FALSE(ContainsIgnoringCase(a100, std::string(70, 'A') + "B"));
}

}  // namespace
}  // namespace quillmore
