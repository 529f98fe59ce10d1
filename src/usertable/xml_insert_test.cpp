#include "usertable/xml_insert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "xml/xml_parser.h"

namespace quillmore {
namespace {

_tagUSERTABLEINFO Def(const char* name,
                      std::vector<_tagUSERTABLEINFO>* kids = nullptr) {
  _tagUSERTABLEINFO d{};
  std::strncpy(d.szElement, name, sizeof d.szElement);
  if (kids != nullptr) {
    d.dwChildLen = static_cast<std::uint32_t>(kids->size());
    d.pChild = kids->data();
  }
  return d;
}

std::string Build(const std::vector<_tagUSERTABLEINFO>& defs, const char* xml,
                  int type = 1, int id = 42) {
  XmlParser content;
  EXPECT_EQ(content.LoadText(xml), XmlParser::kOk);
  return BuildUserInsertQuery(defs, content, 1, 0x1A2B3C4D, type, id);
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
  std::vector<_tagUSERTABLEINFO> item_kids = {Def("name")};
  std::vector<_tagUSERTABLEINFO> defs = {
      Def("Total"),   Def(""),     Def("Missing"),
      Def("Receipt"), Def("Note"), Def("Item", &item_kids)};
  EXPECT_EQ(Build(defs,
                  "<Receipt><Total>1</Total><Total>2</Total>"
                  "<Note>it's</Note></Receipt>",
                  1, -7),
            "INSERT INTO TBL_USER1_1A2B3C4D (f_id , f_total, f_missing, "
            "f_receipt, f_note) VALUES ( -7 ,'1','','','it''s')");
}

TEST(XmlInsertTest, GroupRowsFollowTheDocument) {
  std::vector<_tagUSERTABLEINFO> item_kids = {Def("Name"), Def("price"),
                                              Def("")};
  std::vector<_tagUSERTABLEINFO> pay_kids = {Def("kind")};
  _tagUSERTABLEINFO no_children = Def("Pay", &pay_kids);
  no_children.pChild = nullptr;
  std::vector<_tagUSERTABLEINFO> defs = {Def("Item", &item_kids),
                                         Def("Absent", &pay_kids), no_children};
  // Only group elements: no main statement and no leading line feed.
  EXPECT_EQ(Build(defs,
                  "<R><Item name='a' Name='A' price='1'/><Item price='2'/>"
                  "<Item qty='3'/><Pay kind='cash'/></R>"),
            "INSERT INTO USR_ITEM1_1A2B3C4D (f_id ,f_name,f_price) VALUES "
            "( 42 ,'A','1')\n"
            "INSERT INTO USR_ITEM1_1A2B3C4D (f_id ,f_price) VALUES ( 42 ,'2')");
  // A name that is not a valid step selects nothing; the others still go.
  std::vector<_tagUSERTABLEINFO> bad = {Def("Total"), Def("x[", &pay_kids)};
  EXPECT_EQ(
      Build(bad, "<R><Total>5</Total></R>"),
      "INSERT INTO TBL_USER1_1A2B3C4D (f_id , f_total) VALUES ( 42 ,'5')");
  EXPECT_EQ(Build({Def("Absent", &pay_kids)}, "<R/>"), "");
}

TEST(XmlInsertTest, UnterminatedNameIsReadWithinItsField) {
  std::vector<_tagUSERTABLEINFO> defs = {Def("")};
  std::memset(defs[0].szElement, 'A', sizeof defs[0].szElement);
  const std::string name(sizeof defs[0].szElement, 'A');
  const std::string xml = "<R><" + name + ">v</" + name + "></R>";
  EXPECT_EQ(Build(defs, xml.c_str()),
            "INSERT INTO TBL_USER1_1A2B3C4D (f_id , f_" +
                std::string(sizeof defs[0].szElement, 'a') +
                ") VALUES ( 42 ,'v')");
}

}  // namespace
}  // namespace quillmore
