#include "search/ascii_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quillmore {
namespace {

bool NaiveContains(const std::string& text, const std::string& pattern) {
  auto fold = [](char c) { return c >= 'a' && c <= 'z' ? c - 32 : +c; };
  for (std::size_t i = 0; i + pattern.size() <= text.size(); ++i) {
    std::size_t j = 0;
    while (j < pattern.size() && fold(text[i + j]) == fold(pattern[j])) ++j;
    if (j == pattern.size()) return true;
  }
  return pattern.empty();
}

// A small alphabet makes partial matches and borders frequent; "@" and "`"
// (0x40, 0x60) and the two bytes above 0x7F differ only in bit 0x20 like
// letters, but are no case pair.
TEST(AsciiSearchTest, AgreesWithANaiveSearch) {
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
              NaiveContains(text, pattern));
  }
  // Patterns longer than the inline work area.
  const std::string a100 = std::string(100, 'a');
  EXPECT_TRUE(ContainsIgnoringCase(a100 + "b", std::string(70, 'A') + "B"));
  EXPECT_FALSE(ContainsIgnoringCase(a100, std::string(70, 'A') + "B"));
}

}  // namespace
}  // namespace quillmore
