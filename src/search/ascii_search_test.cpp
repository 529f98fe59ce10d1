#include "search/ascii_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quillmore {
namespace {

bool NaiveContains(const std::string& text, const std::string& pattern) {
  auto fold = [](char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  };
  for (std::size_t i = 0; i + pattern.size() <= text.size(); ++i) {
    std::size_t j = 0;
    while (j < pattern.size() && fold(text[i + j]) == fold(pattern[j])) ++j;
    if (j == pattern.size()) return true;
  }
  return pattern.empty();
}

TEST(AsciiSearchTest, FindsWithoutRegardToTheCaseOfAToZOnly) {
  struct Case {
    std::string text;
    std::string pattern;
    bool found;
  } cases[] = {
      {"aab", "ab", true},           // only after a partial match
      {"abcabd", "abd", true},       // border fallback
      {"x", "X", true},              // first character of the text
      {"TOTAL 12", "total", true},
      {"subtotal", "TOTAL", true},
      {"abc", "", true},
      {"", "a", false},
      {"ab", "abc", false},
      {"@", "`", false},             // 0x40 and 0x60 are no case pair
      {"[", "{", false},
      {"\xC9t\xC9", "\xE9", false},  // bytes above 0x7F match only themselves
      {"caf\xE9", "CAF\xE9", true},
      {std::string("a\0b", 3), std::string("\0B", 2), true},
      {std::string(100, 'a') + "b", std::string(70, 'A') + "B", true},
      {std::string(100, 'a'), std::string(70, 'A') + "B", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20) + " / " + c.pattern.substr(0, 20));
    EXPECT_EQ(ContainsIgnoringCase(c.text, c.pattern), c.found);
  }
}

// Small alphabets make borders and partial matches frequent.
TEST(AsciiSearchTest, AgreesWithANaiveSearchOnRandomTexts) {
  std::mt19937 rng(7);
  const std::string alphabet = "aAbB@`";
  auto make = [&](std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += alphabet[rng() % alphabet.size()];
    return s;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::string text = make(rng() % 40);
    const std::string pattern = make(1 + rng() % 6);
    SCOPED_TRACE(text + " / " + pattern);
    ASSERT_EQ(ContainsIgnoringCase(text, pattern),
              NaiveContains(text, pattern));
  }
}

}  // namespace
}  // namespace quillmore
