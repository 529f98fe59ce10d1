#include "search/record_matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "search/test_records.h"

namespace quillmore {
namespace {

using testing::Def;
using testing::Param;

TEST(RecordMatcherTest, ShapeTestsAtTheEdgesOfSignificantBytes) {
  // One letter per nSplit 0 to 3: P passes, f fails; other values pass.
  const std::pair<std::string, std::string> cases[] = {
      // clang-format off
      // 0x20 is skipped by all four, 0x21 not; 0x7E is significant; DEL is
      // skipped by 0, 1 and 3, not by 2; bytes above 0x7F are skipped; "."
      // and "," are significant to 0 and 1.
      {"", "PPPP"}, {" \t.,", "PPPP"}, {"7", "ffPP"}, {"a", "PPff"},
      {" 5", "ffPP"}, {"!5", "PffP"}, {"~5~", "PPff"}, {"\1775\177", "fffP"},
      {"\200\3775\303\251", "ffPP"}, {".,5,.", "PPPP"},
      // clang-format on
  };
  for (const auto& [text, pass] : cases) {
    for (int split = -1; split < 5; ++split) {
      const bool tested = split >= 0 && split < 4;
      EXPECT_EQ(PassesShapeTest(text, split), !tested || pass[split] == 'P')
          << ::testing::PrintToString(text) << " split " << split;
    }
  }
}

TEST(RecordMatcherTest, MatchesSearch) {
  std::vector<_tagITEMSEARCHINFO> items = {
      Def(2, "total"),
      Def(2, "card", "void", 1),  // numeric: "x" would fail it
      Def(2),
      Def(2, "", "", 0, "EUR"),      // must also not end with a digit
      Def(2, "", "", 1),             // first number
      Def(2, "", "", 1),             // last number
      Def(2, std::string(50, 'k')),  // unterminated keyword
      Def(1),                        // passes, as kind 3 does
      Def(2),                        // after the pre-item "card"
      Def(3, "zzz"),
  };
  items[3].nSplit = 1;
  items[5].nFindType = 2;
  items[8].nPreItemId = 2;
  const auto p0 = Param(0), p1 = Param(1), p7 = Param(7), p10 = Param(10);
  const std::string k50(50, 'K'), k49(49, 'k');
  // Parameters, join mode, a record that matches and one that doesn't.
  const std::tuple<std::vector<_tagSEARCHPARAM>, int, const char*, const char*>
      cases[] = {
          {{p0}, 0, "TOTAL 12.00", "tot al"},
          {{p1}, 0, "Card", "card VOID"},
          {{Param(2, "ann", 0, "bob")}, 0, "Clerk Ann", "Clerk Bob"},
          {{Param(2)}, 0, "anything", nullptr},
          {{Param(3, "unused")}, 0, "12 eur", "12 usd"},
          {{Param(3)}, 0, "x eur", "eur 12"},
          {{Param(4, "10", 2, "20", 4)}, 0, "a 10 b 25", "a 25 b 15"},
          {{Param(5, "10", 2, "20", 4)}, 0, "a 25 b 20", "a 15 b 25"},
          {{Param(5, "10", 2, "20", 3)}, 0, "a 25 b 19.5", "a 25 b 20"},
          {{Param(4, "10", 1)}, 0, "a 10.5", "a 10"},
          // The first and last number as a pass from the start takes them
          // (a "-" after a number ends it; "--5" reads 0, like atof).
          {{Param(5, "-20", 0)}, 0, "10--20", "10-20"},
          {{Param(4, "1.2", 0)}, 0, "1.2.3 and 4", "-.5-"},
          {{Param(4, "0", 0)}, 0, "--5", "x5.."},
          {{Param(5, "-6", 0)}, 0, "1.-5 x.-6", "-5..--3"},
          {{Param(4, "-5", 0)}, 0, "-5..--3", "1.-5 x.-6"},
          // Codes 3 and 4 are not tested on value 1, 0 to 2 not on value 2.
          {{Param(4, "5", 3, "100", 1)}, 0, "a 99", "no digits"},
          {{Param(4, "5", 0, "abc", 4)}, 0, nullptr, "a 5"},  // number and not
          {{Param(4, "x")}, 0, nullptr, "a x 3"},             // not a number
          {{Param(4)}, 0, "no digits", nullptr},
          {{Param(6)}, 0, k50.c_str(), k49.c_str()},
          // Join modes; only kind 2 is tested.
          {{p0, p1}, 0, "total card", "total"},
          {{p0, p1}, 1, "total", "ccc"},
          {{p7, Param(9), p0}, 0, "total", "ccc"},
          // The pre-item is tested first; the values go to the last element.
          {{Param(8, "x")}, 0, "card x", "card"},
          {{Param(8, "x")}, 0, "CARD X", "x"},
          // Nothing tested (no or only free-text parameters) passes.
          {{Param(-1, "zzz")}, 1, "x", nullptr},
          // An index outside the definitions ends with false, even in OR
          // mode, unless an element already passed there.
          {{p10}, 1, nullptr, "total"},
          {{p0, p10}, 1, "total", nullptr},
      };
  for (const auto& [params, join_mode, match, no_match] : cases) {
    for (const char* record : {match, no_match}) {
      if (record == nullptr) continue;
      EXPECT_EQ(MatchesSearch(record, params, join_mode, items),
                record == match)
          << record << " mode " << join_mode;
    }
  }
}

}  // namespace
}  // namespace quillmore
