#include "usertable/xml_insert.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/user_table_def.h"
#include "xml/xml_parser.h"

namespace quillmore {
namespace {

std::string Build(const Defs& defs, const std::string& xml, int id = 42) {
  XmlParser content;
  EXPECT_EQ(content.LoadText(xml.c_str()), XmlParser::kOk);
  return BuildUserInsertQuery(defs, content, 1, 0x1A2B3C4D, 1, id);
}

TEST(XmlInsertTest, QuotingKeepsValuesInsideTheLiteral) {
  struct Case {
    const char* value;
    int type;
    const char* quoted;
  } cases[] = {
      {"", 1, "''"},
      {"O'Brien", 1, "'O''Brien'"},
      {"'", 2, "''''"},
      {"C:\\x\\", 1, "'C:\\x\\'"},
      {"C:\\x\\", 4, "'C:\\\\x\\\\'"},
      {"\\'; drop table t; --", 4, "'\\\\''; drop table t; --'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(QuoteSqlValue(c.value, c.type), c.quoted);
  }
}

TEST(XmlInsertTest, MainTableTakesTheFirstElementOfEachName) {
  Defs item_kids = {Def("name")};
  Defs defs = {Def("Total"),   Def(""),     Def("Missing"),
               Def("Receipt"), Def("Note"), Def("Item", 0, &item_kids)};
  EXPECT_EQ(Build(defs,
                  "<Receipt><Total>1</Total><Total>2</Total>"
                  "<Note>it's</Note></Receipt>",
                  -7),
            "INSERT INTO TBL_USER1_1A2B3C4D (f_id , f_total, f_missing, "
            "f_receipt, f_note) VALUES ( -7 ,'1','','','it''s')");
  // A name of 50 characters fills its field unterminated and is read whole.
  const std::string name(50, 'A');
  EXPECT_EQ(Build({Def(name)}, "<R><" + name + ">v</" + name + "></R>"),
            "INSERT INTO TBL_USER1_1A2B3C4D (f_id , f_" + std::string(50, 'a') +
                ") VALUES ( 42 ,'v')");
}

TEST(XmlInsertTest, GroupRowsFollowTheDocument) {
  Defs item_kids = {Def("Name"), Def("price"), Def("")};
  Defs pay_kids = {Def("kind")};
  _tagUSERTABLEINFO no_children = Def("Pay", 0, &pay_kids);
  no_children.pChild = nullptr;
  Defs defs = {Def("Item", 0, &item_kids), Def("Absent", 0, &pay_kids),
               no_children};
  // Only group elements: no main statement and no leading line feed.
  EXPECT_EQ(Build(defs,
                  "<R><Item name='a' Name='A' price='1'/><Item price='2'/>"
                  "<Item qty='3'/><Pay kind='cash'/></R>"),
            "INSERT INTO USR_ITEM1_1A2B3C4D (f_id ,f_name,f_price) VALUES "
            "( 42 ,'A','1')\n"
            "INSERT INTO USR_ITEM1_1A2B3C4D (f_id ,f_price) VALUES ( 42 ,'2')");
  // A name that is not a valid step selects nothing; the others still go.
  EXPECT_EQ(
      Build({Def("Total"), Def("x[", 0, &pay_kids)}, "<R><Total>5</Total></R>"),
      "INSERT INTO TBL_USER1_1A2B3C4D (f_id , f_total) VALUES ( 42 ,'5')");
  EXPECT_EQ(Build({Def("Absent", 0, &pay_kids)}, "<R/>"), "");
}

}  // namespace
}  // namespace quillmore
