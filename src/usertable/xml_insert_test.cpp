#include "usertable/xml_insert.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "testing/test_installation.h"
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

// Records, definitions and stylesheets drawn from a seeded generator. The
// statements that the builder gave for them when it still looked elements
// up with XPath in a parsed document are kept in
// testdata/xml_insert_golden.txt, one line per case with "\\" and "\n"
// escaped and "!" for a failed record; every later builder must give the
// same. QUILLMORE_WRITE_GOLDEN=1 writes the file instead.
class RecordGen {
 public:
  int N(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
  template <typename T, std::size_t K>
  const T& Of(const T (&a)[K]) { return a[N(K)]; }
  // Up to `most` of `names`, each once, in random order.
  std::vector<std::string> Some(std::vector<std::string> names, int most) {
    for (std::size_t i = names.size(); i > 1; --i) std::swap(names[i - 1], names[N(i)]);
    names.resize(N(most + 1));
    return names;
  }
  std::string Value(bool attribute) {
    static const char* const pieces[] = {
        "12.50", "Ann", "O'Brien", "a\\b", "caf\xC3\xA9", "\xE9", "\xFF!",
        " ", "\t", "\n", "&amp;", "&lt;", "&#38;", "&#x41;", "&#13;", "&quot;",
        "&t;", "&n;", "&m;", "<!--c-->", "<?pi d?>", "<![CDATA[<x>&amp;]]>"};
    std::string v;
    for (int k = N(4); k > 0; --k) {
      const int i = N(dtd_ ? (attribute ? 18 : 22) : 16);
      v += pieces[attribute && i >= 18 ? i - 2 : i];
    }
    return v;
  }
  std::string Element(int depth) {
    static const char* const names[] = {"Total", "Cashier", "Item", "Items",
                                        "Line",  "Sub",     "z:Item"};
    const std::string name = Of(names);
    std::string xml = "<" + name;
    if (N(8) == 0) xml += N(2) ? " xmlns='urn:d'" : " xmlns=''";
    for (const std::string& a :
         Some({"name", "price", "qty", "Name", "z:name", "xml:lang"}, 4)) {
      xml += " " + a + "=\"" + Value(true) + "\"";
    }
    xml += ">";
    for (int k = N(depth == 0 ? 6 : 4 - depth / 2); k > 0; --k) {
      xml += N(3) == 0 ? Value(false) : Element(depth + 1);
    }
    return xml + "</" + name + ">";
  }
  std::string Record() {
    static const char* const roots[] = {"R", "Total", "Item"};
    dtd_ = N(3) == 0;
    const std::string root = Of(roots);
    std::string xml =
        dtd_ ? "<!DOCTYPE " + root +
                   " [<!ENTITY t 'tee'><!ENTITY n 'a&t;b&#38;#60;c'>"
                   "<!ENTITY m '<Total>in</Total>tail<Item name=\"e\"/>'>"
                   "<!ENTITY x SYSTEM 'none.xml'><!ATTLIST Item qty CDATA '9' "
                   "dflt CDATA 'd'>]>"
             : "";
    xml += "<" + root + " xmlns:z='urn:z'>";
    for (int k = N(5); k > 0; --k) xml += Element(0);
    if (dtd_ && N(4) == 0) xml += "&x;";
    xml += "</" + root + ">";
    return N(30) == 0 ? xml.substr(0, xml.size() / 2) : xml;
  }
  Defs Definitions() {
    static const char* const plain[] = {"Total", "Cashier", "Line", "Sub", "R",
                                        "Item",  "z:Item",  "x[",   "Absent"};
    static const char* const groups[] = {"Item", "Line", "Sub", "Items", "x["};
    Defs defs;
    for (int k = N(4); k > 0; --k) defs.push_back(Def(Of(plain)));
    for (Defs& kids : kids_) {
      kids.clear();
      for (const std::string& a : Some({"name", "price", "qty", "Name",
                                        "z:name", "xml:lang", "dflt", ""}, 5)) {
        kids.push_back(Def(a));
      }
      if (N(2) == 0) continue;
      defs.insert(defs.begin() + N(static_cast<int>(defs.size()) + 1),
                  Def(Of(groups), 0, &kids));
      if (N(10) == 0) defs.back().pChild = nullptr;
    }
    return defs;
  }

 private:
  std::mt19937 rng_{20260611};
  bool dtd_ = false;
  Defs kids_[2];
};

std::string Sheet(const std::string& top) {
  return "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/"
         "Transform'>" + top + "</xsl:stylesheet>";
}
const std::string kIdentity =
    "<xsl:template match='@*|node()'><xsl:copy><xsl:apply-templates "
    "select='@*|node()'/></xsl:copy></xsl:template>";
const std::string kSheets[] = {
    kIdentity,
    kIdentity + "<xsl:template match='Line'><Item><xsl:apply-templates "
                "select='@*|node()'/></Item></xsl:template><xsl:template "
                "match='Item'><Line qty='{count(*)}'><xsl:apply-templates "
                "select='@*|node()'/></Line></xsl:template>",
    "<xsl:output cdata-section-elements='Total'/><xsl:template match='/'><R>"
    "<Total>a<xsl:value-of select='//Total'/><xsl:value-of select='//Cashier'/>"
    "b</Total><Sub><xsl:copy-of select='//Item'/></Sub></R></xsl:template>",
    "<xsl:template match='/'><R><xsl:value-of disable-output-escaping='yes' "
    "select=\"concat('&lt;Total&gt;', //Line, '&lt;/Total&gt;')\"/>"
    "<xsl:copy-of select='/*/*'/></R></xsl:template>",
    "<xsl:template match='/'><xsl:copy-of select='/*/*'/></xsl:template>",
    "<xsl:template match='/'><xsl:value-of select='//Cashier'/><R><xsl:copy-of "
    "select='/*/*'/></R></xsl:template>",
    "<xsl:template match='/'><R><xsl:element name='Total' namespace='urn:x'>n"
    "</xsl:element><x:Sub xmlns:x='urn:y'><Total>in</Total></x:Sub><Cashier "
    "xmlns='urn:d'><Total xmlns=''>e</Total></Cashier><Item z:name='1' "
    "name='2' xmlns:z='urn:z'/><xsl:copy-of select='//Item'/></R>"
    "</xsl:template>",
    "<xsl:output doctype-system='r.dtd'/>" + kIdentity,
    "<xsl:output method='html'/><xsl:template match='/'><R><Item name='h'/>"
    "<br/><Total><xsl:value-of select='//Total'/></Total></R></xsl:template>",
    "<xsl:output method='text'/><xsl:template match='/'><xsl:copy-of "
    "select='*'/></xsl:template>"};

// The statements for one case, or "!" when the record fails.
std::string Statements(const Defs& defs, const std::string& xml,
                       const std::string& sheet, int type, int id) {
  std::string text = xml;
  if (!sheet.empty()) {
    XmlParser transformer;
    if (transformer.LoadStylesheet(sheet.c_str()) != XmlParser::kOk ||
        transformer.Transform(xml.c_str(), text) != XmlParser::kOk) {
      return "!";
    }
  }
  XmlParser content;
  if (content.LoadText(text.c_str()) != XmlParser::kOk) return "!";
  return BuildUserInsertQuery(defs, content, 3, 0xABC, type, id);
}

TEST(XmlInsertTest, SameStatementsAsTheFormerBuilder) {
  TestInstallation inst;
  for (std::size_t s = 0; s < std::size(kSheets); ++s) {
    inst.Write(std::to_string(s) + ".xsl", Sheet(kSheets[s]));
  }
  const std::filesystem::path golden =
      std::filesystem::path(__FILE__).parent_path() / "testdata" /
      "xml_insert_golden.txt";
  std::ifstream in(golden, std::ios::binary);
  RecordGen gen;
  std::string all, line;
  int differing = 0;
  for (int c = 0; c < 600; ++c) {
    const std::string xml = gen.Record();
    const std::string sheet =
        c % 3 != 0 ? ""
                   : inst.dv() + "/" +
                         std::to_string(c / 3 % std::size(kSheets)) + ".xsl";
    std::string got;
    for (char ch : Statements(gen.Definitions(), xml, sheet, c % 2 ? 1 : 4,
                              c % 5 ? c : -c)) {
      got += ch == '\\' ? "\\\\" : ch == '\n' ? "\\n" : std::string(1, ch);
    }
    all += got + '\n';
    std::getline(in, line);
    if (line != got && ++differing <= 5) {
      ADD_FAILURE() << "case " << c << " " << sheet << "\n" << xml
                    << "\nwant " << line << "\ngot  " << got;
    }
  }
  if (std::getenv("QUILLMORE_WRITE_GOLDEN") != nullptr) {
    std::ofstream(golden, std::ios::binary) << all;
  }
  EXPECT_EQ(differing, 0);
}

}  // namespace
}  // namespace quillmore
