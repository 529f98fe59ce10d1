#include "notation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillmore_tools {
namespace {

TEST(Notation, UserTablesParseOrSayWhatTheLibraryWouldRefuse) {
  const std::string long_name(50, 'n');
  std::string group = "G[";
  for (int i = 0; i < 256; ++i)
    group += (i ? ",c" : "c") + std::to_string(i) + ":1";
  struct Case {
    std::string text;
    std::string formatted;  // empty: refused
    std::string error;      // a part of the message
  } cases[] = {
      {"Total:20 Cashier:30 Item[name:40,price:10]",
       "Total:20 Cashier:30 Item[name:40,price:10]", ""},
      {"  A:1:7\tG[ x:2 , y:3 ]B:4 ", "A:1:7 G[x:2,y:3] B:4", ""},
      {"", "", ""},
      {"Total", "", "a column is NAME:LENGTH"},
      {"Total:0", "", "LENGTH is a whole number"},
      {"Total:12x", "", "LENGTH is a whole number"},
      {"Total:5:256", "", "TYPE is a number from 0 to 255"},
      {":5", "", "an empty name at the top level"},
      {"A:1 A:2", "", "'A' twice at the top level"},
      {"A:1 A[x:1]", "", "'A' twice at the top level"},
      {"G[x:1,x:2]", "", "'x' twice in G[...]"},
      {"G[x:1", "", "no closing ']'"},
      {"G[]", "", "a group needs at least one column"},
      {long_name + ":3", "", "longer than 49 bytes"},
      {group + "]", "", "at most 255"},
      {"A:1 G[A:1]", "A:1 G[A:1]", ""},  // a child may share a top-level name
  };
  for (const Case& c : cases) {
    std::vector<UserTableDef> defs;
    std::string error;
    const bool ok = ParseUserTables(c.text, defs, error);
    EXPECT_EQ(ok, c.error.empty()) << c.text << ": " << error;
    if (ok) {
      EXPECT_EQ(FormatUserTables(defs), c.formatted) << c.text;
      UserTableRecords records(defs);
      EXPECT_EQ(FormatUserTables(FromRecords(records.data(), records.count())),
                c.formatted)
          << c.text;
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos)
          << c.text << ": " << error;
    }
  }
}

TEST(Notation, ItemFieldsRoundTrip) {
  _tagITEMSEARCHINFO item{};
  std::string error;
  for (const char* arg :
       {"name=Card payment", "kind=keyword", "split=3", "keyword=CARD",
        "nokeyword=VOID", "number=1", "findtype=1", "pre=2"}) {
    ASSERT_TRUE(SetItemField(item, arg, error)) << arg << ": " << error;
  }
  EXPECT_EQ(FormatItem(item),
            "name=Card payment kind=2 split=3 keyword=CARD nokeyword=VOID "
            "number=1 findtype=1 pre=2");
  const struct {
    std::string arg, error;
  } bad[] = {
      {"kind=3", "is 0, 1 or 2"},
      {"colour=red", "no such FIELD"},
      {"split=-2", "split is -1 (no test) or 0 to 3"},
      {"name=\tx", "can't begin or end with a blank"},
      {"keyword=a\nb", "nor hold a line break"},
      {"name=" + std::string(50, 'x'), "at most 49 bytes"},
      {"table=" + std::string(60, 't'), "at most 59 bytes"},
  };
  for (const auto& b : bad) {
    _tagITEMSEARCHINFO before = item;
    EXPECT_FALSE(SetItemField(item, b.arg, error)) << b.arg;
    EXPECT_NE(error.find(b.error), std::string::npos) << b.arg << ": " << error;
    EXPECT_EQ(FormatItem(item), FormatItem(before)) << b.arg;
  }
  ASSERT_TRUE(SetItemField(item, "table=" + std::string(59, 't'), error));
  EXPECT_EQ(std::string(item.szTable).size(), 59u);
}

}  // namespace
}  // namespace quillmore_tools
