#include "search/record_matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "search/test_records.h"

namespace quillmore {
namespace {

using testing::Def;
using testing::Param;

bool Match(std::string_view record, const std::vector<_tagSEARCHPARAM>& params,
           const std::vector<_tagITEMSEARCHINFO>& items, int join_mode = 0) {
  return MatchesSearch(record, params, join_mode, items);
}

TEST(RecordMatcherTest, ShapeTestsAtTheEdgesOfSignificantBytes) {
  using namespace std::string_literals;
  struct Case {
    std::string text;
    std::string pass;  // one letter per nSplit 0 to 3: P passes, f fails
  } cases[] = {
      // clang-format off
      {"", "PPPP"},      {" \t.,", "PPPP"},   {"7", "ffPP"},  {"a", "PPff"},
      {" 5 total ", "fPPf"},
      {" 5", "ffPP"},    // 0x20 is skipped by all four
      {"!5", "PffP"},    // 0x21 is significant
      {"~5~", "PPff"},   // 0x7E too
      {"\1775\177", "fffP"},  // DEL: skipped by 0, 1 and 3, not by 2
      {"\200\3775\303\251", "ffPP"},  // bytes above 0x7F are skipped
      {".,5,.", "PPPP"},  // "." and "," are significant to 0 and 1
      {"5\0x"s, "fPPf"},
      // clang-format on
  };
  for (const Case& c : cases) {
    for (int split = 0; split < 4; ++split) {
      SCOPED_TRACE(::testing::PrintToString(c.text) + " split " +
                   std::to_string(split));
      EXPECT_EQ(PassesShapeTest(c.text, split), c.pass[split] == 'P');
    }
  }
  EXPECT_TRUE(PassesShapeTest("7", -1));
  EXPECT_TRUE(PassesShapeTest("7", 4));
}

std::string Repeat(std::string_view s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

TEST(RecordMatcherTest, ExtractsTheFirstAndLastNumber) {
  struct Case {
    std::string text;
    std::size_t count;
    double first, last;
  } cases[] = {
      {"no digits - here.", 0, 0, 0},
      {"10-20", 2, 10, 20},
      {"sum -12.50 eur", 1, -12.5, -12.5},
      {"1.2.3 and 4", 2, 1.2, 4},
      {"--5", 1, 0, 0},  // read like atof("--5")
      {"-.5", 1, 5, 5},
      {"x5.", 1, 5, 5},
      // No work area to overrun: a 300-digit number, 1000 numbers.
      {"7 " + std::string(300, '1') + Repeat(" 3", 997) + " 42.5", 1000, 7,
       42.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20));
    RecordNumbers n = ExtractNumbers(c.text);
    EXPECT_EQ(n.count, c.count);
    EXPECT_EQ(n.first, c.first);
    EXPECT_EQ(n.last, c.last);
  }
}

TEST(RecordMatcherTest, OneElement) {
  std::vector<_tagITEMSEARCHINFO> items = {
      Def(2, "total"),          Def(2, "card", "void"), Def(2),
      Def(2, "", "", 0, "EUR"),  // must also not end with a digit
      Def(2, "", "", 1),         // first number
      Def(2, "", "", 1),         // last number
  };
  items[3].nSplit = 1;
  items[5].nFindType = 1;
  items.push_back(Def(2, std::string(50, 'k')));  // unterminated keyword
  struct Case {
    std::string record;
    _tagSEARCHPARAM param;
    bool match;
  } cases[] = {
      {"TOTAL 12.00", Param(0), true},
      {"subtotal", Param(0), true},
      {"tot al", Param(0), false},
      {"Card", Param(1), true},
      {"card VOID", Param(1), false},
      {"pay", Param(1), false},
      {"Clerk Ann", Param(2, "ann"), true},
      {"Clerk Bob", Param(2, "ann", 0, "bob"), false},
      {"anything", Param(2), true},
      {"12 eur", Param(3, "unused"), true},
      {"12 usd", Param(3), false},
      {"eur 12", Param(3), false},
      {"a 15 b 25", Param(4, "10", 2, "20", 4), true},
      {"a 25 b 15", Param(4, "10", 2, "20", 4), false},
      {"a 25 b 15", Param(5, "10", 2, "20", 4), true},
      {"a 25 b 20", Param(5, "10", 2, "20", 4), true},
      {"a 25 b 20", Param(5, "10", 2, "20", 3), false},
      {"a 10", Param(4, "10", 1), false},
      {"a 10", Param(4, "10.0", 0), true},
      {"a 99", Param(4, "5", 3), true},         // code 3 not tested on value 1
      {"a 99", Param(4, "", 0, "5", 1), true},  // code 1 not on value 2
      {"a 3", Param(4, "5", 0, "abc", 4), false},  // number and non-number
      {"a 3", Param(4, "x"), false},
      {"no digits", Param(4, "1", 2), false},
      {"no digits", Param(4), true},
      {std::string(50, 'K'), Param(6), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    EXPECT_EQ(Match(c.record, {c.param}, items), c.match);
  }
  EXPECT_FALSE(Match(std::string(49, 'k'), {Param(6)}, items));
}

TEST(RecordMatcherTest, ChainsAndJoinModes) {
  std::vector<_tagITEMSEARCHINFO> items = {Def(2, "aaa"), Def(2, "bbb"), Def(2),
                                           Def(2), Def(1)};
  items[2].nPreItemId = 2;
  items[3].nPreItemId = 6;  // the last definition
  items[4].nPreItemId = 9;  // beyond the list: skipped
  items.push_back(Def(2, "last"));
  const auto p0 = Param(0), p1 = Param(1), p4 = Param(4);
  EXPECT_TRUE(Match("aaa bbb", {p0, p1}, items, 0));
  EXPECT_FALSE(Match("aaa", {p0, p1}, items, 0));
  EXPECT_TRUE(Match("aaa", {p0, p1}, items, 1));
  EXPECT_FALSE(Match("ccc", {p0, p1}, items, 1));
  EXPECT_TRUE(Match("ccc", {p4, p0, p1}, items, 1));  // kind 1 passes
  // The pre-item is tested first; the values go to the last element only.
  EXPECT_TRUE(Match("bbb x", {Param(2, "x")}, items));
  EXPECT_FALSE(Match("x", {Param(2, "x")}, items));
  EXPECT_FALSE(Match("bbb", {Param(2, "x")}, items));
  EXPECT_FALSE(Match("x", {Param(3, "x")}, items));
  EXPECT_TRUE(Match("LAST x", {Param(3, "x")}, items));
  // Nothing tested (no or only free-text parameters) passes in both modes.
  EXPECT_TRUE(Match("x", {}, items, 0));
  EXPECT_TRUE(Match("x", {Param(-1, "zzz")}, items, 1));
  // An index outside the definitions ends with false, even in OR mode,
  // unless an element already passed there.
  EXPECT_FALSE(Match("aaa", {Param(6)}, items, 1));
  EXPECT_FALSE(Match("aaa", {p0}, {}, 1));
  EXPECT_TRUE(Match("aaa", {p0, Param(6)}, items, 1));
  EXPECT_FALSE(Match("aaa", {p0, Param(6)}, items, 0));
}

}  // namespace
}  // namespace quillmore
