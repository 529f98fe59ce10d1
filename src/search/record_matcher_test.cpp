#include "search/record_matcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace quillmore {
namespace {

template <std::size_t N>
void Put(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N));
}

_tagITEMSEARCHINFO Keyword(const char* keyword = "", const char* no_keyword = "",
                           int split = -1) {
  _tagITEMSEARCHINFO d{};
  d.byType = 2;
  d.nSplit = static_cast<std::int16_t>(split);
  Put(d.szKeyword, keyword);
  Put(d.szNoKeyword, no_keyword);
  return d;
}

_tagITEMSEARCHINFO Number(int find_type) {
  _tagITEMSEARCHINFO d = Keyword();
  d.dwFindNumber = 1;
  d.nFindType = static_cast<std::int16_t>(find_type);
  return d;
}

_tagSEARCHPARAM Param(int index, const char* v1 = "", int c1 = 0,
                      const char* v2 = "", int c2 = 0) {
  _tagSEARCHPARAM p{};
  p.nItemIndex = index;
  Put(p.szValue1, v1);
  p.byCompare1 = static_cast<std::uint8_t>(c1);
  Put(p.szValue2, v2);
  p.byCompare2 = static_cast<std::uint8_t>(c2);
  return p;
}

bool Match(std::string_view record, const std::vector<_tagSEARCHPARAM>& params,
           const std::vector<_tagITEMSEARCHINFO>& items, int join_mode = 0) {
  return MatchesSearch(record, params, join_mode, items);
}

TEST(RecordMatcherTest, ShapeTestsAtTheEdgesOfSignificantBytes) {
  using namespace std::string_literals;
  struct Case {
    std::string text;
    bool pass[4];  // nSplit 0, 1, 2, 3
  } cases[] = {
      {"", {true, true, true, true}},
      {" \t.,", {true, true, true, true}},
      {"7", {false, false, true, true}},
      {"a", {true, true, false, false}},
      {" 5 total ", {false, true, true, false}},
      {"total 5.", {true, true, false, true}},
      {"\x20" "5", {false, false, true, true}},   // 0x20 skipped by all
      {"\x21" "5", {true, false, false, true}},   // 0x21 significant
      {"\x7F" "5\x7F", {false, false, false, true}},  // DEL: skipped by 0, 1
                                                      // and 3, not by 2
      {"\x80\xFF" "5\xC3\xA9", {false, false, true, true}},
      {"\x7E" "5\x7E", {true, true, false, false}},
      {".,5,.", {true, true, true, true}},  // "." "," significant for 0/1
      {"5\0x"s, {false, true, true, false}},
  };
  for (const Case& c : cases) {
    for (int split = 0; split < 4; ++split) {
      SCOPED_TRACE(::testing::PrintToString(c.text) + " split " +
                   std::to_string(split));
      EXPECT_EQ(PassesShapeTest(c.text, split), c.pass[split]);
    }
  }
  EXPECT_TRUE(PassesShapeTest("7", -1));
  EXPECT_TRUE(PassesShapeTest("7", 4));
}

TEST(RecordMatcherTest, ExtractsFirstAndLastNumber) {
  struct Case {
    const char* text;
    std::size_t count;
    double first, last;
  } cases[] = {
      {"no digits - here.", 0, 0, 0},
      {"10-20", 2, 10, 20},
      {"total -12.50 eur", 1, -12.5, -12.5},
      {"1.2.3 and 4", 2, 1.2, 4},
      {"--5", 1, 0, 0},  // atof of "--5"
      {"-.5", 1, 5, 5},  // a point before digits drops the sign
      {"x5.", 1, 5, 5},
      {"a 1 b 2 c 33", 3, 1, 33},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    RecordNumbers n = ExtractNumbers(c.text);
    EXPECT_EQ(n.count, c.count);
    EXPECT_EQ(n.first, c.first);
    EXPECT_EQ(n.last, c.last);
  }
  // No work area to overrun: a 300-digit number among 1000 numbers.
  std::string text = "7 " + std::string(300, '1');
  for (int i = 0; i < 1000; ++i) text += " 3";
  RecordNumbers n = ExtractNumbers(text + " 42.5");
  EXPECT_EQ(n.count, 1003u);
  EXPECT_EQ(n.first, 7);
  EXPECT_EQ(n.last, 42.5);
}

TEST(RecordMatcherTest, KeywordsDefinedValuesAndTextValues) {
  std::vector<_tagITEMSEARCHINFO> items = {
      Keyword("total"),         // 0
      Keyword("", "void"),      // 1
      Keyword("card", "void"),  // 2
      Keyword(),                // 3: text value of the parameter
      Keyword("", "", 1),       // 4: must not end with a digit
  };
  Put(items[4].szDefinedValue, "EUR");
  struct Case {
    const char* record;
    _tagSEARCHPARAM param;
    bool match;
  } cases[] = {
      {"TOTAL 12.00", Param(0), true},
      {"subtotal", Param(0), true},
      {"tot al", Param(0), false},
      {"paid", Param(1), true},
      {"VOIDED", Param(1), false},
      {"Card", Param(2), true},
      {"card void", Param(2), false},
      {"Clerk Ann", Param(3, "ann"), true},
      {"Clerk Bob", Param(3, "ann"), false},
      {"anything", Param(3), true},
      {"12 eur", Param(4, "nothing"), true},  // defined value, not szValue1
      {"12 usd", Param(4), false},
      {"eur 12", Param(4), false},            // shape test first
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    EXPECT_EQ(Match(c.record, {c.param}, items), c.match);
  }
}

TEST(RecordMatcherTest, NumericBounds) {
  std::vector<_tagITEMSEARCHINFO> items = {Number(0), Number(1)};
  struct Case {
    const char* record;
    _tagSEARCHPARAM param;
    bool match;
  } cases[] = {
      {"a 15 b 25", Param(0, "10", 2, "20", 4), true},
      {"a 25 b 15", Param(0, "10", 2, "20", 4), false},
      {"a 25 b 15", Param(1, "10", 2, "20", 4), true},  // last number
      {"a 25 b 20", Param(1, "10", 2, "20", 4), true},
      {"a 25 b 20", Param(1, "10", 2, "20", 3), false},
      {"a 10", Param(0, "10", 1), false},
      {"a 10", Param(0, "10.0", 0), true},
      {"a 99", Param(0, "5", 3), true},   // code 3 is not tested on value 1
      {"a 99", Param(0, "", 0, "5", 1), true},  // nor code 1 on value 2
      {"a 3", Param(0, "5", 0, "abc", 4), false},  // mixed
      {"a 3", Param(0, "x", 0), false},            // no number given
      {"no digits", Param(0, "1", 2), false},
      {"no digits", Param(0), true},               // no value given
      {"a -3", Param(0, "-3", 0), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    EXPECT_EQ(Match(c.record, {c.param}, items), c.match);
  }
}

TEST(RecordMatcherTest, ChainsAndJoinModes) {
  std::vector<_tagITEMSEARCHINFO> items = {
      Keyword("aaa"),  // 0
      Keyword("bbb"),  // 1
      Keyword(),       // 2: needs the pre-item 1 first
      Keyword(),       // 3: pre-item beyond the list, skipped
  };
  items[2].nPreItemId = 2;
  items[3].nPreItemId = 9;
  _tagITEMSEARCHINFO user_table{};
  user_table.byType = 1;
  items.push_back(user_table);  // 4

  const auto p0 = Param(0), p1 = Param(1), p4 = Param(4);
  EXPECT_TRUE(Match("aaa bbb", {p0, p1}, items, 0));
  EXPECT_FALSE(Match("aaa", {p0, p1}, items, 0));
  EXPECT_TRUE(Match("aaa", {p0, p1}, items, 1));
  EXPECT_FALSE(Match("ccc", {p0, p1}, items, 1));
  EXPECT_TRUE(Match("ccc", {p4, p0, p1}, items, 1));  // kind 1 passes
  // The pre-item is tested; the values go to the last element only.
  EXPECT_TRUE(Match("bbb x", {Param(2, "x")}, items));
  EXPECT_FALSE(Match("x", {Param(2, "x")}, items));
  EXPECT_FALSE(Match("bbb", {Param(2, "x")}, items));
  EXPECT_TRUE(Match("x", {Param(3, "x")}, items));
  // Free text is not tested: nothing tested passes in both modes.
  EXPECT_TRUE(Match("x", {}, items, 0));
  EXPECT_TRUE(Match("x", {}, items, 1));
  EXPECT_TRUE(Match("x", {Param(-1, "zzz")}, items, 1));
  // An index outside the definitions ends with false, even in OR mode,
  // unless an element already passed.
  EXPECT_FALSE(Match("aaa", {Param(5)}, items, 1));
  EXPECT_FALSE(Match("aaa", {Param(0)}, {}, 1));
  EXPECT_TRUE(Match("aaa", {p0, Param(5)}, items, 1));
  EXPECT_FALSE(Match("aaa", {p0, Param(5)}, items, 0));
}

TEST(RecordMatcherTest, UnterminatedFieldsAreReadToTheirSize) {
  std::vector<_tagITEMSEARCHINFO> items = {Keyword()};
  std::memset(items[0].szKeyword, 'k', sizeof items[0].szKeyword);
  _tagSEARCHPARAM p = Param(0);
  const std::string k50(50, 'k');
  EXPECT_TRUE(Match(k50, {p}, items));
  EXPECT_FALSE(Match(k50.substr(1), {p}, items));
}

}  // namespace
}  // namespace quillmore
