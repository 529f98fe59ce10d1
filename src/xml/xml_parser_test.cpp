#include "xml/xml_parser.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "testing/test_installation.h"

namespace quillmore {
namespace {

// A stylesheet of the top-level elements `top`; `attributes` on the root.
std::string Sheet(const std::string& top,
                  const std::string& attributes = "version='1.0'") {
  return "<xsl:stylesheet xmlns:xsl='http://www.w3.org/1999/XSL/Transform' " +
         attributes + ">" + top + "</xsl:stylesheet>";
}

// One template, for the root, holding `body`.
std::string Root(const std::string& body) {
  return "<xsl:template match='/'>" + body + "</xsl:template>";
}

TEST(XmlParserTest, LookupsFollowTheRules) {
  XmlParser p;
  std::string out = "kept";
  EXPECT_EQ(p.GetElementText("Total", out), 0) << "no document yet";
  EXPECT_FALSE(p.SelectElements("Item").has_value());
  ASSERT_EQ(p.LoadText("<R xmlns:z='urn:z'><A><Total>9</Total><Item price='1' "
                       "name='Tea'/></A><Total>12.50</Total><C>a<D>b</D>c"
                       "<![CDATA[<d>]]></C><y:F xmlns:y='u'>f</y:F><G><Item "
                       "z:name='x' name='a&apos;b'>t</Item></G><Item/></R>"),
            XmlParser::kOk);
  // A/Total is the first in document order though its parent comes later in
  // a parent-by-parent walk; the document element has no element parent;
  // the text is all descendant text; XPath syntax in the name counts; an
  // attribute is no element. Failing (out unchanged): a prefix unbound in
  // the lookup, bad syntax, an expression that is no location step.
  const std::tuple<const char*, int, const char*> cases[] = {
      {"Total", 1, "9"},     {"R", 1, ""},
      {"C", 1, "abc<d>"},    {"Total[. > 10]", 1, "12.50"},
      {"Item/@name", 1, ""}, {"y:F", 0, "kept"},
      {"Total[", 0, "kept"}, {"count(A)", 0, "kept"}};
  for (const auto& [name, result, text] : cases) {
    out = "kept";
    EXPECT_EQ(p.GetElementText(name, out), result) << name;
    EXPECT_EQ(out, text) << name;
  }
  EXPECT_EQ(p.GetElementText(nullptr, out), 0);
  // Attributes with their prefixes, in document order; non-elements skipped.
  const std::vector<XmlAttributes> items = {{{"price", "1"}, {"name", "Tea"}},
                                            {{"z:name", "x"}, {"name", "a'b"}},
                                            {}};
  EXPECT_EQ(p.SelectElements("Item"), items);
  EXPECT_EQ(p.SelectElements("Item/text()"), std::vector<XmlAttributes>());
  EXPECT_FALSE(p.SelectElements("Item[").has_value());
}

// Records are UTF-8 whatever they declare (Latin-1 or UTF-16 declared over
// UTF-8 text, a stray Latin-1 byte, a byte-order mark, an internal entity).
// A namespace error fails the load like any other; a failed load leaves an
// empty document: the lookup runs and finds nothing.
TEST(XmlParserTest, TextIsUtf8WhateverItDeclares) {
  XmlParser p;
  const char* const cases[][2] = {
      {"<?xml version='1.0' encoding='ISO-8859-1'?><r><v>caf\xC3\xA9</v></r>",
       "caf\xC3\xA9"},
      {"<?xml version='1.0' encoding='UTF-16'?><r><v>x</v></r>", "x"},
      {"<r><v>caf\xE9</v></r>", "caf\xEF\xBF\xBD"},
      {"\xEF\xBB\xBF<r><v>b</v></r>", "b"},
      {"<!DOCTYPE r [<!ENTITY n 'N\xC3\xA9'>]><r><v>&n;</v></r>", "N\xC3\xA9"},
      {"<x:r><v>1</v></x:r>", nullptr},
      {"<r><v>1</v>", nullptr}};
  for (const auto& [text, value] : cases) {
    std::string out = "kept";
    EXPECT_EQ(p.LoadText(text), value ? XmlParser::kOk : XmlParser::kFail);
    EXPECT_EQ(p.GetElementText("v", out), 1);
    EXPECT_EQ(out, value ? value : "") << text;
  }
  EXPECT_EQ(p.LoadText(nullptr), XmlParser::kFail);
}

TEST(XmlParserTest, StylesheetsAndFilesAreReadInTheirOwnEncoding) {
  TestInstallation inst;
  const std::string dv = inst.dv() + "/";
  XmlParser p;
  std::string out = "kept";
  testing::internal::CaptureStderr();
  // xsl:message is silent; terminate="yes" fails the transformation.
  for (const std::string terminate : {"no", "yes"}) {
    inst.Write("m.xsl", Sheet(Root("<xsl:message terminate='" + terminate +
                                   "'>hi</xsl:message><a/>")));
    ASSERT_EQ(p.LoadStylesheet((dv + "m.xsl").c_str()), XmlParser::kOk);
    EXPECT_EQ(p.Transform("<r/>", out) == XmlParser::kOk, terminate == "no");
  }
  // A Latin-1 stylesheet's output is UTF-8 whatever xsl:output asks for.
  const std::string latin1 = "<?xml version='1.0' encoding='ISO-8859-1'?>";
  const std::string body = "<Out><V>\xE9<xsl:value-of select='//v'/></V></Out>";
  inst.Write("t.xsl", latin1 + Sheet("<xsl:output encoding='ISO-8859-1' "
                                     "indent='yes'/>" +
                                     Root(body)));
  ASSERT_EQ(p.LoadStylesheet((dv + "t.xsl").c_str()), XmlParser::kOk);
  ASSERT_EQ(p.Transform("<r><v>\xC3\xBC</v></r>", out), XmlParser::kOk);
  EXPECT_EQ(out, "<Out><V>\xC3\xA9\xC3\xBC</V></Out>\n");
  out = "kept";
  EXPECT_EQ(p.Transform("<r>", out), XmlParser::kFail);
  EXPECT_EQ(p.Transform(nullptr, out), XmlParser::kFail);
  // Files are read in their own encoding, namespaces included. None of
  // these is a stylesheet; after a failed load none is held.
  inst.Write("latin1.xml", latin1 + "<a>\xE9</a>");
  inst.Write("unbound.xml", "<x:a/>");
  inst.Write("bad.xsl", "<xsl:stylesheet");
  const std::pair<const char*, int> files[] = {
      {"t.xsl", 1},   {"latin1.xml", 1}, {"unbound.xml", 0},
      {"bad.xsl", 0}, {"none.xsl", 0},   {"", 0}};
  for (const auto& [name, valid] : files) {
    EXPECT_EQ(p.ValidateFile((dv + name).c_str()), valid) << name;
    EXPECT_EQ(p.LoadStylesheet((dv + name).c_str()) == XmlParser::kOk,
              std::string(name) == "t.xsl");
  }
  EXPECT_EQ(p.ValidateFile(nullptr), 0);
  EXPECT_EQ(p.Transform("<r/>", out), XmlParser::kFail);
  EXPECT_EQ(out, "kept");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Hostile input fails cleanly, reads and writes nothing, prints nothing;
// outside our calls a host's own use of libxml2 behaves as before.
TEST(XmlParserTest, HostileInputFailsCleanly) {
  TestInstallation inst;
  const std::string dv = inst.dv() + "/";
  inst.Write("secret.xml", "<s>SECRET</s>");
  inst.Write("secret.dtd", "<!ENTITY e 'SECRET'>");
  inst.Write("ok.xsl", Sheet(Root("<a/>")));
  std::string laughs = "<!DOCTYPE r [<!ENTITY l0 'lol'>", open, close;
  for (int i = 1; i <= 9; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " '";
    for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "'>";
  }
  for (int i = 0; i < 100000; ++i) open += "<a>", close += "</a>";
  testing::internal::CaptureStderr();
  XmlParser p;
  std::string out;
  EXPECT_EQ(p.LoadText((laughs + "]><r>&l9;</r>").c_str()), XmlParser::kFail);
  EXPECT_EQ(p.LoadText((open + close).c_str()), XmlParser::kFail);
  for (const std::string& dtd :
       {"[<!ENTITY e SYSTEM '" + dv + "secret.xml'>]",
        "SYSTEM '" + dv + "secret.dtd'",
        "[<!ENTITY % p SYSTEM '" + dv + "secret.dtd'>%p;]"}) {
    p.LoadText(("<!DOCTYPE r " + dtd + "><r><v>&e;</v></r>").c_str());
    p.GetElementText("v", out);
    EXPECT_EQ(out.find("SECRET"), std::string::npos) << dtd;
  }
  // Each is refused when loaded or fails when applied.
  for (const std::string& text : {
           Sheet(Root("<e:document href='" + dv + "w.xml'><x/></e:document>"),
                 "version='1.0' extension-element-prefixes='e' "
                 "xmlns:e='http://exslt.org/common'"),
           Sheet(Root("<a><xsl:value-of select=\"document('" + dv +
                      "secret.xml')/s\"/></a>")),
           Sheet("<xsl:import href='" + dv + "ok.xsl'/>"),
           Sheet(Root("<xsl:call-template name='f'/>") +
                 "<xsl:template name='f'><a><xsl:call-template name='f'/></a>"
                 "</xsl:template>"),
       }) {
    inst.Write("h.xsl", text);
    p.LoadStylesheet((dv + "h.xsl").c_str());
    out = "kept";
    EXPECT_EQ(p.Transform("<r/>", out), XmlParser::kFail) << text;
    EXPECT_EQ(out, "kept");
  }
  EXPECT_FALSE(inst.Exists("w.xml"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  // The host's error handlers are back after a failure, and the host's own
  // entity substitution goes through the loader.
  const xmlGenericErrorFunc generic = xmlGenericError;
  const xmlStructuredErrorFunc structured = xmlStructuredError;
  EXPECT_EQ(p.LoadText("<r"), XmlParser::kFail);
  EXPECT_EQ(xmlGenericError, generic);
  EXPECT_EQ(xmlStructuredError, structured);
  inst.Write("doc.xml",
             "<!DOCTYPE r [<!ENTITY e SYSTEM 'secret.xml'>]><r>&e;</r>");
  xmlDoc* doc = xmlReadFile((dv + "doc.xml").c_str(), nullptr,
                            XML_PARSE_NOENT | XML_PARSE_NOERROR);
  ASSERT_NE(doc, nullptr);
  xmlChar* text = xmlNodeGetContent(xmlDocGetRootElement(doc));
  EXPECT_STREQ(reinterpret_cast<const char*>(text), "SECRET");
  xmlFree(text);
  xmlFreeDoc(doc);
}

// Separate parsers on separate threads, the first use racing the set-up.
TEST(XmlParserTest, SeparateObjectsWorkOnSeparateThreads) {
  TestInstallation inst;
  const std::string sheet = inst.dv() + "/t.xsl";
  inst.Write("t.xsl",
             Sheet(Root("<R><V><xsl:value-of select='//v'/></V></R>")));
  std::vector<int> good(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        XmlParser p;
        const std::string v = std::to_string(t * 100 + i);
        std::string out, value;
        p.LoadStylesheet(sheet.c_str());
        p.Transform(("<r><v>" + v + "</v></r>").c_str(), out);
        good[t] += p.LoadText("<broken") == XmlParser::kFail &&
                   p.LoadText(out.c_str()) == XmlParser::kOk &&
                   p.GetElementText("V", value) == 1 && value == v;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(good, std::vector<int>(4, 25));
}

}  // namespace
}  // namespace quillmore
