#include "usertable/xml_insert.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/user_table_def.h"
#include "xml/xml_parser.h"

namespace quillmore {
namespace {

// Quotes are doubled; backslashes too for MySQL (type 4), whose literals
// treat them as escapes.
TEST(XmlInsertTest, QuotingKeepsValuesInsideTheLiteral) {
  EXPECT_EQ(QuoteSqlValue("O'Brien", 1), "'O''Brien'");
  EXPECT_EQ(QuoteSqlValue("C:\\x\\", 2), "'C:\\x\\'");
  EXPECT_EQ(QuoteSqlValue("\\'; drop table t; --", 4),
            "'\\\\''; drop table t; --'");
}

// Main table: the first element of each name, in definition order; a
// missing element or the document element gives '', a nameless definition
// nothing. Group rows: configured attributes only (compared
// case-sensitively), no row without one; a group absent, without a child
// array or whose name is no valid step gives no row; without a main
// statement there is no leading line feed. A name of 50 characters fills
// its field unterminated and is read whole.
TEST(XmlInsertTest, StatementsFollowTheDocument) {
  Defs kids = {Def("Name"), Def("price"), Def("")};
  Defs groups = {Def("x[", 0, &kids), Def("Item", 0, &kids),
                 Def("Absent", 0, &kids), Def("Pay", 0, &kids)};
  groups.back().pChild = nullptr;
  const std::string name(50, 'A');
  const struct {
    Defs defs;
    std::string xml, want;
  } cases[] = {
      {{Def("Total"), Def(""), Def("Missing"), Def("R")},
       "<R><Total>1'</Total><Total>2</Total></R>",
       "INSERT INTO TBL_USER1_1A2B3C4D (f_id , f_total, f_missing, f_r) "
       "VALUES ( -7 ,'1''','','')"},
      {groups,
       "<R><Item name='a' price='5'/><Item qty='3'/><Pay Name='p'/></R>",
       "INSERT INTO USR_ITEM1_1A2B3C4D (f_id ,f_price) VALUES ( -7 ,'5')"},
      {{Def(name)},
       "<R><" + name + ">v</" + name + "></R>",
       "INSERT INTO TBL_USER1_1A2B3C4D (f_id , f_" + std::string(50, 'a') +
           ") VALUES ( -7 ,'v')"}};
  for (const auto& c : cases) {
    XmlParser content;
    ASSERT_EQ(content.LoadText(c.xml.c_str()), XmlParser::kOk);
    EXPECT_EQ(BuildUserInsertQuery(c.defs, content, 1, 0x1A2B3C4D, 1, -7),
              c.want);
  }
}

}  // namespace
}  // namespace quillmore
