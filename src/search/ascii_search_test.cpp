#include "search/ascii_search.h"

#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>

#include "base/ascii.h"
#include "testing/generous_time.h"

namespace quillmore {
namespace {

// Both paths, the one with 16-byte compares and the plain one. A small
// alphabet makes partial matches and borders frequent; "@" and "`" (0x40,
// 0x60) and the two bytes above 0x7F differ only in bit 0x20 like letters,
// but are no case pair.
TEST(AsciiSearchTest, AgreesWithANaiveSearchInLinearTime) {
  std::mt19937 rng(7);
  auto make = [&](std::size_t n) {
    std::string s(n, ' ');
    for (char& c : s) c = "aAbB@`\xC9\xE9"[rng() % 8];
    return s;
  };
  for (int round = 0; round < 5000; ++round) {
    const std::string text = make(rng() % 70), pattern = make(rng() % 7);
    SCOPED_TRACE(text + " / " + pattern);
    const bool found =
        AsciiUpper(text).find(AsciiUpper(pattern)) != std::string::npos;
    ASSERT_EQ(ContainsIgnoringCase(text, pattern), found);
    ASSERT_EQ(ContainsIgnoringCasePlain(text, pattern), found);
  }
  // The inputs that make a naive search quadratic, with patterns for each
  // path; the time limit is generous.
  const std::string many(1 << 22, 'a'), a31(31, 'A');
  const std::clock_t start = std::clock();
  for (const std::string& p :
       {std::string(40000, 'A') + "B", a31 + "B" + a31}) {
    EXPECT_FALSE(ContainsIgnoringCase(many, p));
    EXPECT_TRUE(ContainsIgnoringCase(many + "b" + a31, p));
  }
  EXPECT_LT(testing::ProcessorSecondsSince(start), testing::kGenerousSeconds);
}

}  // namespace
}  // namespace quillmore
