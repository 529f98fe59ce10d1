#include "usertable/xml_insert.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "testing/test_installation.h"
#include "testing/user_table_def.h"
#include "xml/record_reader.h"
#include "xml/xml_parser.h"

namespace quillmore {
namespace {

// Records and definitions drawn from a seeded generator, some read through
// the stylesheets of testdata/xml_insert_sheets.txt (one a line): nesting,
// repeated and missing elements, attributes in any order, namespaces,
// entities, CDATA, comments, bytes that are not UTF-8 and declarations of
// other encodings, names that are no XML names, groups under several
// parents, broken records. The statements
// the builder gave for them when it still looked elements up with XPath in
// a parsed document are kept in testdata/xml_insert_golden.txt, one line a
// case ("\\" and "\n" escaped, "!" for a failed record); every later builder
// must give the same. QUILLMORE_WRITE_GOLDEN=1 writes the file instead.
struct RecordGen {
  std::mt19937 rng{20260611};
  bool dtd = false;
  Defs kids[2];
  int N(std::size_t n) { return static_cast<int>(rng() % n); }
  std::string One(const std::vector<std::string>& names) {
    return names[N(names.size())];
  }
  // Up to `most` of `names`, each once, in random order.
  std::vector<std::string> Some(std::vector<std::string> names, int most) {
    for (std::size_t i = names.size(); i > 1; --i)
      std::swap(names[i - 1], names[N(i)]);
    names.resize(N(most + 1));
    return names;
  }
  std::string Value(bool attribute) {
    static const char* const pieces[] = {"12.50",       "Ann",
                                         "O'Brien",     "a\\b",
                                         "caf\xC3\xA9", "\xE9",
                                         "\xFF!",       " ",
                                         "\t",          "\n",
                                         "&amp;",       "&lt;",
                                         "&#38;",       "&#x41;",
                                         "&#13;",       "&quot;",
                                         "&t;",         "&n;",
                                         "&m;",         "<!--c-->",
                                         "<?pi d?>",    "<![CDATA[<x>&amp;]]>"};
    std::string v;
    for (int k = N(4), i; k > 0; --k) {
      i = N(dtd ? (attribute ? 18 : 22) : 16);
      v += pieces[attribute && i >= 18 ? i - 2 : i];
    }
    return v;
  }
  std::string Element(int depth) {
    const std::string name =
        One({"Total", "Cashier", "Item", "Items", "Line", "Sub", "z:Item"});
    std::string xml = "<" + name +
                      (N(8)   ? ""
                       : N(2) ? " xmlns='urn:d'"
                              : " xmlns=''");
    for (const std::string& a :
         Some({"name", "price", "qty", "Name", "z:name", "xml:lang"}, 4)) {
      xml += " " + a + "=\"" + Value(true) + "\"";
    }
    xml += ">";
    for (int k = N(depth == 0 ? 6 : 4 - depth / 2); k > 0; --k) {
      xml += N(3) ? Element(depth + 1) : Value(false);
    }
    return xml + "</" + name + ">";
  }
  std::string Record() {
    dtd = N(3) == 0;
    const std::string root = One({"R", "Total", "Item"});
    std::string xml = "<" + root + " xmlns:z='urn:z'>";
    if (dtd) {
      xml = "<!DOCTYPE " + root +
            " [<!ENTITY t 'tee'><!ENTITY n 'a&t;b&#38;"
            "#60;c'><!ENTITY m '<Total>in</Total>tail<Item name=\"e\"/>'>"
            "<!ENTITY x SYSTEM 'none.xml'><!ATTLIST Item qty CDATA '9' dflt "
            "CDATA 'd'>]>" +
            xml;
    }
    for (int k = N(5); k > 0; --k) xml += Element(0);
    xml = One({"", "", "", "\xEF\xBB\xBF",
               "<?xml version='1.0' encoding='UTF-16'?>",
               "<?xml version='1.0' encoding='ISO-8859-1'?>"}) +
          xml + (dtd && N(4) == 0 ? "&x;</" : "</") + root + ">";
    return N(30) == 0 ? xml.substr(0, xml.size() / 2) : xml;
  }
  Defs Definitions() {
    Defs defs;
    for (const std::string& name : Some({"Total", "Cashier", "Line", "Sub", "R",
                                         "Item", "z:Item", "x[", "Absent"},
                                        3)) {
      defs.push_back(Def(name));
    }
    for (Defs& group : kids) {
      group.clear();
      for (const std::string& a : Some({"name", "price", "qty", "Name",
                                        "z:name", "xml:lang", "dflt", ""},
                                       5)) {
        group.push_back(Def(a));
      }
      if (N(2) == 0) continue;
      defs.insert(defs.begin() + N(defs.size() + 1),
                  Def(One({"Item", "Line", "Sub", "Items", "x["}), 0, &group));
      if (N(10) == 0) defs.back().pChild = nullptr;
    }
    return defs;
  }
};

TEST(XmlInsertTest, SameStatementsAsTheFormerBuilder) {
  const std::filesystem::path data =
      std::filesystem::path(__FILE__).parent_path() / "testdata";
  TestInstallation inst;
  std::ifstream sheets(data / "xml_insert_sheets.txt");
  std::vector<std::string> paths;
  for (std::string sheet; std::getline(sheets, sheet);) {
    inst.Write(std::to_string(paths.size()) + ".xsl", sheet);
    paths.push_back(inst.dv() + "/" + std::to_string(paths.size()) + ".xsl");
  }
  ASSERT_FALSE(paths.empty());
  std::ifstream golden(data / "xml_insert_golden.txt", std::ios::binary);
  RecordGen gen;
  std::string all, want;
  int differing = 0;
  for (int c = 0; c < 600; ++c) {
    const std::string xml = gen.Record();
    const std::string sheet = c % 3 ? "" : paths[c / 3 % paths.size()];
    const Defs defs = gen.Definitions();
    UserInsertBuilder builder(defs, 3, 0xABC, c % 2 ? 1 : 4, c % 5 ? c : -c,
                              StatementLimit(xml.size()));
    XmlParser transformer;
    const bool read = sheet.empty()
                          ? ReadRecord(xml.c_str(), builder)
                          : transformer.LoadStylesheet(sheet.c_str()) &&
                                transformer.Transform(xml.c_str(), builder);
    const std::optional<std::string> statements = builder.Statements();
    std::string got;  // "!" for a failed record
    for (char ch : read&& statements ? *statements : std::string("!")) {
      got += ch == '\\' ? "\\\\" : ch == '\n' ? "\\n" : std::string(1, ch);
    }
    all += got + '\n';
    std::getline(golden, want);
    if (want != got && ++differing <= 5) {
      ADD_FAILURE() << "case " << c << " " << sheet << "\n"
                    << xml << "\nwant " << want << "\ngot  " << got;
    }
  }
  if (std::getenv("QUILLMORE_WRITE_GOLDEN") != nullptr) {
    std::ofstream(data / "xml_insert_golden.txt", std::ios::binary) << all;
  }
  EXPECT_EQ(differing, 0);
}

}  // namespace
}  // namespace quillmore
