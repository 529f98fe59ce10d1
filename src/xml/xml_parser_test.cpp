#include "xml/xml_parser.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "testing/test_installation.h"

namespace quillmore {
namespace {

constexpr const char* kXsl =
    "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\"";

std::string Stylesheet(const std::string& body,
                       const std::string& extra_namespaces = "",
                       const std::string& version = "1.0") {
  return "<xsl:stylesheet version=\"" + version + "\" " + kXsl + " " +
         extra_namespaces + ">" + body + "</xsl:stylesheet>";
}

// A stylesheet whose one template, for the root, holds `body`.
std::string RootTemplate(const std::string& body,
                         const std::string& extra_namespaces = "",
                         const std::string& version = "1.0") {
  return Stylesheet("<xsl:template match='/'>" + body + "</xsl:template>",
                    extra_namespaces, version);
}

TEST(XmlParserTest, ElementTextFollowsTheLookupRules) {
  XmlParser p;
  std::string out = "kept";
  EXPECT_EQ(p.GetElementText("Total", out), 0) << "no document yet";
  EXPECT_EQ(out, "kept");

  // A/Total comes first in document order though its parent comes later
  // in a parent-by-parent walk.
  ASSERT_EQ(p.LoadText("<Receipt><A><Total>9</Total><b x='1'/></A>"
                       "<Total>12.50</Total><C>a<D>b</D>c<![CDATA[<d>]]></C>"
                       "<E>&amp;&#233;</E><y:F xmlns:y='u'>f</y:F></Receipt>"),
            XmlParser::kOk);
  struct Case {
    const char* name;
    int result;
    const char* text;  // nullptr: out unchanged
  } cases[] = {
      {"Total", 1, "9"},      // the first in document order
      {"Receipt", 1, ""},     // the document element has no element parent
      {"Missing", 1, ""},     //
      {"total", 1, ""},       // names match case-sensitively
      {"C", 1, "abc<d>"},     // all descendant text
      {"E", 1, "&\xC3\xA9"},  // references resolved, UTF-8 out
      {"Total[. > 10]", 1, "12.50"},  // XPath syntax in the name counts
      {"b/@x", 1, ""},                // an attribute is not an element
      {"y:F", 0, nullptr},            // prefix unbound in the lookup
      {"", 0, nullptr},               //
      {"Total[", 0, nullptr},         //
      {"count(A)", 0, nullptr},       // not a location step
      {"$v", 0, nullptr},             //
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    out = "kept";
    EXPECT_EQ(p.GetElementText(c.name, out), c.result);
    EXPECT_EQ(out, c.text != nullptr ? c.text : "kept");
  }
  EXPECT_EQ(p.GetElementText(nullptr, out), 0);

  // A failed load leaves an empty document: the lookup runs, finds nothing.
  EXPECT_EQ(p.LoadText(""), XmlParser::kFail);
  out = "kept";
  EXPECT_EQ(p.GetElementText("Total", out), 1);
  EXPECT_EQ(out, "");
  ASSERT_TRUE(p.SelectElements("Total").has_value());
  EXPECT_TRUE(p.SelectElements("Total")->empty());
}

TEST(XmlParserTest, SelectElementsGivesAttributesInDocumentOrder) {
  XmlParser p;
  EXPECT_FALSE(p.SelectElements("Item").has_value()) << "no document yet";
  ASSERT_EQ(p.LoadText("<R xmlns:z='urn:z'><Item price='1' name='Tea'/>"
                       "<G><Item z:name='x' name='a&apos;b'>t</Item></G>"
                       "<Item/></R>"),
            XmlParser::kOk);
  auto items = p.SelectElements("Item");
  ASSERT_TRUE(items.has_value());
  ASSERT_EQ(items->size(), 3u);
  EXPECT_EQ((*items)[0], (XmlAttributes{{"price", "1"}, {"name", "Tea"}}));
  EXPECT_EQ((*items)[1], (XmlAttributes{{"z:name", "x"}, {"name", "a'b"}}));
  EXPECT_TRUE((*items)[2].empty());
  // Non-element nodes are skipped; a bad step fails.
  ASSERT_TRUE(p.SelectElements("Item/text()").has_value());
  EXPECT_TRUE(p.SelectElements("Item/text()")->empty());
  EXPECT_FALSE(p.SelectElements("Item[").has_value());
  EXPECT_TRUE(p.SelectElements("R")->empty());
}

TEST(XmlParserTest, TextIsUtf8WhateverItDeclares) {
  XmlParser p;
  std::string out;
  struct Case {
    const char* name;
    std::string text;
    std::string value;
  } cases[] = {
      {"latin-1 declared, UTF-8 given",
       "<?xml version='1.0' encoding='ISO-8859-1'?><r><v>caf\xC3\xA9</v></r>",
       "caf\xC3\xA9"},
      {"UTF-16 declared",
       "<?xml version='1.0' encoding='UTF-16'?><r><v>x</v></r>", "x"},
      {"stray latin-1 byte", "<r><v>caf\xE9</v></r>", "caf\xEF\xBF\xBD"},
      {"UTF-8 BOM", "\xEF\xBB\xBF<r><v>b</v></r>", "b"},
      {"internal entity",
       "<!DOCTYPE r [<!ENTITY n 'N\xC3\xA9'>]><r><v>&n;</v></r>", "N\xC3\xA9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(p.LoadText(c.text.c_str()), XmlParser::kOk);
    EXPECT_EQ(p.GetElementText("v", out), 1);
    EXPECT_EQ(out, c.value);
  }
}

TEST(XmlParserTest, TransformNeedsALoadedStylesheet) {
  TestInstallation inst;
  XmlParser p;
  std::string out = "kept";
  EXPECT_EQ(p.Transform("<a/>", out), XmlParser::kFail);
  EXPECT_EQ(out, "kept");

  // A Latin-1 stylesheet file is read in its own encoding; its output is
  // UTF-8 whatever xsl:output asks for.
  inst.Write("t.xsl",
             "<?xml version='1.0' encoding='ISO-8859-1'?>" +
                 Stylesheet("<xsl:output encoding='ISO-8859-1' indent='yes'/>"
                            "<xsl:template match='/'><Out><V>\xE9<xsl:value-of "
                            "select='//v'/></V></Out></xsl:template>"));
  ASSERT_EQ(p.LoadStylesheet((inst.dv() + "/t.xsl").c_str()), XmlParser::kOk);
  ASSERT_EQ(p.Transform("<r><v>\xC3\xBC</v></r>", out), XmlParser::kOk);
  EXPECT_EQ(out, "<Out><V>\xC3\xA9\xC3\xBC</V></Out>\n");
  out = "kept";
  EXPECT_EQ(p.Transform("<r>", out), XmlParser::kFail);
  EXPECT_EQ(p.Transform(nullptr, out), XmlParser::kFail);
  EXPECT_EQ(out, "kept");

  // xsl:message is silent; terminate="yes" fails the transformation.
  testing::internal::CaptureStderr();
  for (const char* terminate : {"no", "yes"}) {
    SCOPED_TRACE(terminate);
    inst.Write("m.xsl", RootTemplate(std::string("<xsl:message terminate='") +
                                     terminate + "'>hi</xsl:message><a/>"));
    ASSERT_EQ(p.LoadStylesheet((inst.dv() + "/m.xsl").c_str()), XmlParser::kOk);
    out = "kept";
    EXPECT_EQ(p.Transform("<r/>", out), std::string(terminate) == "no"
                                            ? XmlParser::kOk
                                            : XmlParser::kFail);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  out = "kept";

  // After a failed load no stylesheet is held.
  inst.Write("bad.xsl", "<xsl:stylesheet");
  for (const char* name : {"bad.xsl", "missing.xsl", "not-xslt.xsl"}) {
    SCOPED_TRACE(name);
    if (std::string(name) == "not-xslt.xsl") inst.Write(name, "<a><b/></a>");
    EXPECT_EQ(p.LoadStylesheet((inst.dv() + "/" + name).c_str()),
              XmlParser::kFail);
    EXPECT_EQ(p.Transform("<r/>", out), XmlParser::kFail);
    EXPECT_EQ(out, "kept");
  }
}

// Hostile input fails cleanly, reads and writes nothing, prints nothing.
TEST(XmlParserTest, HostileInputFailsCleanly) {
  TestInstallation inst;
  const std::string dv = inst.dv();
  inst.Write("secret.txt", "SECRET");
  inst.Write("secret.xml", "<s>SECRET</s>");
  inst.Write("secret.dtd", "<!ENTITY e 'SECRET'>");
  inst.Write("ok.xsl", RootTemplate("<a/>"));

  std::string laughs = "<!DOCTYPE r [<!ENTITY l0 'lol'>";
  for (int i = 1; i <= 9; ++i) {
    const std::string ref = "&l" + std::to_string(i - 1) + ";";
    laughs += "<!ENTITY l" + std::to_string(i) + " '";
    for (int k = 0; k < 10; ++k) laughs += ref;
    laughs += "'>";
  }
  laughs += "]><r><v>&l9;</v></r>";
  auto nested = [](int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) open += "<a>", close += "</a>";
    return "<r>" + open + "<v>ok</v>" + close + "</r>";
  };

  testing::internal::CaptureStderr();
  XmlParser p;
  std::string out;
  EXPECT_EQ(p.LoadText(laughs.c_str()), XmlParser::kFail);
  EXPECT_EQ(p.LoadText(nested(100000).c_str()), XmlParser::kFail);
  ASSERT_EQ(p.LoadText(nested(200).c_str()), XmlParser::kOk);
  EXPECT_EQ(p.GetElementText("v", out), 1);
  EXPECT_EQ(out, "ok");

  for (const std::string& text : {
           "<!DOCTYPE r [<!ENTITY e SYSTEM '" + dv +
               "/secret.txt'>]><r><v>&e;</v></r>",
           "<!DOCTYPE r SYSTEM '" + dv + "/secret.dtd'><r><v>&e;</v></r>",
           "<!DOCTYPE r [<!ENTITY % p SYSTEM '" + dv +
               "/secret.dtd'>%p;]><r><v>&e;</v></r>",
       }) {
    SCOPED_TRACE(text);
    out = "";
    p.LoadText(text.c_str());
    p.GetElementText("v", out);
    EXPECT_EQ(out.find("SECRET"), std::string::npos);
  }

  const std::string write = "href='" + dv + "/w.xml'><x/>";
  const std::string exsl =
      "xmlns:exsl='http://exslt.org/common' extension-element-prefixes='exsl'";
  const std::string saxon =
      "xmlns:saxon='http://icl.com/saxon' extension-element-prefixes='saxon'";
  // Each is refused when loaded or fails when applied.
  const std::pair<const char*, std::string> sheets[] = {
      {"xsl:document",
       RootTemplate("<xsl:document " + write + "</xsl:document><a/>", "",
                    "1.1")},
      {"exsl:document",
       RootTemplate("<exsl:document " + write + "</exsl:document><a/>", exsl)},
      {"saxon:output",
       RootTemplate("<saxon:output " + write + "</saxon:output><a/>", saxon)},
      {"document()", RootTemplate("<a><xsl:value-of select=\"document('" + dv +
                                  "/secret.xml')/s\"/></a>")},
      {"xsl:import", Stylesheet("<xsl:import href='" + dv + "/ok.xsl'/>")},
      {"endless recursion",
       RootTemplate("<xsl:call-template name='f'/></xsl:template><xsl:template "
                    "name='f'><a><xsl:call-template name='f'/></a>")},
  };
  for (const auto& [name, text] : sheets) {
    SCOPED_TRACE(name);
    inst.Write("h.xsl", text);
    p.LoadStylesheet((dv + "/h.xsl").c_str());
    out = "kept";
    EXPECT_EQ(p.Transform("<r/>", out), XmlParser::kFail);
    EXPECT_EQ(out, "kept");
    EXPECT_FALSE(inst.Exists("w.xml"));
  }
  ASSERT_EQ(p.LoadStylesheet((dv + "/ok.xsl").c_str()), XmlParser::kOk);
  EXPECT_EQ(p.Transform(laughs.c_str(), out), XmlParser::kFail);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Separate parsers on separate threads, the first use racing the set-up.
TEST(XmlParserTest, SeparateObjectsWorkOnSeparateThreads) {
  TestInstallation inst;
  inst.Write("t.xsl",
             RootTemplate("<R><V><xsl:value-of select='//v'/></V></R>"));
  const std::string sheet = inst.dv() + "/t.xsl";
  std::vector<int> good(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        XmlParser p;
        const std::string v = std::to_string(t * 100 + i);
        std::string out, value;
        good[t] += p.LoadStylesheet(sheet.c_str()) == XmlParser::kOk &&
                   p.Transform(("<r><v>" + v + "</v></r>").c_str(), out) ==
                       XmlParser::kOk &&
                   p.LoadText(out.c_str()) == XmlParser::kOk &&
                   p.GetElementText("V", value) == 1 && value == v &&
                   p.LoadText("<broken") == XmlParser::kFail;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(good, std::vector<int>(4, 25));
}

// Outside our calls a host's own use of libxml2 behaves as before.
TEST(XmlParserTest, HostUseOfLibxml2IsUntouched) {
  TestInstallation inst;
  inst.Write("secret.txt", "SECRET");
  inst.Write("doc.xml",
             "<!DOCTYPE r [<!ENTITY e SYSTEM 'secret.txt'>]><r>&e;</r>");
  XmlParser p;
  ASSERT_EQ(p.LoadText("<r/>"), XmlParser::kOk);  // the library is set up
  const xmlGenericErrorFunc generic = xmlGenericError;
  const xmlStructuredErrorFunc structured = xmlStructuredError;
  EXPECT_EQ(p.LoadText("<r"), XmlParser::kFail);
  EXPECT_EQ(xmlGenericError, generic);
  EXPECT_EQ(xmlStructuredError, structured);
  // The host asks for entity substitution; the loader lets it through.
  xmlDoc* doc = xmlReadFile((inst.dv() + "/doc.xml").c_str(), nullptr,
                            XML_PARSE_NOENT | XML_PARSE_NOERROR);
  ASSERT_NE(doc, nullptr);
  xmlChar* text = xmlNodeGetContent(xmlDocGetRootElement(doc));
  EXPECT_STREQ(reinterpret_cast<const char*>(text), "SECRET");
  xmlFree(text);
  xmlFreeDoc(doc);
}

}  // namespace
}  // namespace quillmore
