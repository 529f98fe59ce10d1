// User-table inserts, stylesheet checks and the XML parser settings, through
// the public interface with real files in a temporary installation.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "quillmore/QuillmoreExt.h"
#include "testing/copy_out_check.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

using Ext = CQuillmoreExt;

constexpr const char* kReceipt =
    "<Receipt><Total>12.50</Total><Cashier>Ann</Cashier><Items>"
    "<Item name='Tea' price='2.00' qty='1'/><Item price='10.50' name='Cake'/>"
    "<Item qty='3'/></Items></Receipt>";
constexpr const char* kSale = "<Sale><Sum>3</Sum></Sale>";

// Device file with Total, Cashier and the group Item(name, price); `xml`
// holds keys of [XML] that come before USEUSERTABLE=1.
std::string DeviceFile(const std::string& xml = "", int type = 1, int len = 3) {
  return "[GENERAL]\nDBTYPE=" + std::to_string(type) + "\n[XML]\n" + xml +
         "\nUSEUSERTABLE=1\n[USERTABLE]\nLEN=" + std::to_string(len) +
         "\nELEMENT1=Total\nFIELDLEN1=20\nELEMENT2=Cashier\nFIELDLEN2=30\n"
         "CHILDLEN3=2\nELEMENT3=Item\n[ELEMENT3]\nELEMENT1=name\n"
         "FIELDLEN1=40\nELEMENT2=price\nFIELDLEN2=10\n";
}

std::string Parser(const std::string& xslt) {
  return "USEPARSER=1\nXSLT=" + xslt;
}

// Turns <Sale><Sum>..</Sum></Sale> into a receipt whose total begins with
// `mark`, so tests can tell stylesheets apart.
// A <Loop/> record recurses without end.
std::string SaleSheet(const std::string& mark) {
  return "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/"
         "Transform'><xsl:template match='/Sale'><Receipt><Total>" +
         mark +
         "<xsl:value-of select='Sum'/></Total></Receipt></xsl:template>"
         "<xsl:template match='/Loop'><xsl:apply-templates select='.'/>"
         "</xsl:template></xsl:stylesheet>";
}

std::string Insert(Ext& q, const char* xml, int id = 42) {
  char buf[1024];
  return std::string(buf, q.GetUserInsertQuery(id, xml, buf, sizeof buf));
}

// The size is read as a signed number.
TEST(UserInsertQueryTest, WorkedExampleAndBufferEdges) {
  TestInstallation inst;
  inst.Write("devdata1.ini", DeviceFile());
  Ext q;
  ExpectCopyOut(Getter(q, &Ext::GetUserInsertQuery, 42, kReceipt), 512, "");
  ASSERT_EQ(q.LoadData(1), 1);
  const std::string expected =
      "INSERT INTO TBL_USER1_1A2B3C4D (f_id , f_total, f_cashier) VALUES ( 42 "
      ",'12.50','Ann')\nINSERT INTO USR_ITEM1_1A2B3C4D (f_id ,f_name,f_price) "
      "VALUES ( 42 ,'Tea','2.00')\nINSERT INTO USR_ITEM1_1A2B3C4D (f_id "
      ",f_price,f_name) VALUES ( 42 ,'10.50','Cake')";
  const auto len = static_cast<std::uint32_t>(expected.size());
  const FillFn insert = Getter(q, &Ext::GetUserInsertQuery, 42, kReceipt);
  for (std::uint32_t size : {0u, 1u, len, 0x80000000u, 0xFFFFFFFFu})
    ExpectWrite(insert, size, 0, "");
  ExpectWrite(insert, len + 1, len, expected + '\0');
  EXPECT_EQ(q.GetUserInsertQuery(42, kReceipt, nullptr, 4096), 0u);
  // Database type 0 set on the loaded copy, definitions still cached.
  q.SetUseDatabase(1, 1, 0, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(Insert(q, kReceipt), "");
  // MySQL; only group elements and no occurrence: an empty text, result 0.
  inst.Write("devdata2.ini",
             "[GENERAL]\nDBTYPE=4\n[XML]\nUSEUSERTABLE=1\n[USERTABLE]\nLEN=1\n"
             "CHILDLEN1=1\nELEMENT1=Item\n[ELEMENT1]\nELEMENT1=name\n");
  ASSERT_EQ(q.LoadData(2), 1);
  ExpectWrite(Getter(q, &Ext::GetUserInsertQuery, 1, "<R/>"), 4, 0,
              std::string(1, '\0'));
  EXPECT_EQ(Insert(q, "<R><Item name='a\\b'/></R>", -3),
            "INSERT INTO USR_ITEM2_1A2B3C4D (f_id ,f_name) VALUES ( -3 "
            ",'a\\\\b')");
}

TEST(UserInsertQueryTest, PreconditionsLeaveTheBufferUntouched) {
  TestInstallation inst;
  inst.Write("sale.xsl", SaleSheet(""));
  const std::string sale = inst.dv() + "/sale.xsl";
  const std::tuple<std::string, const char*> cases[] = {
      {DeviceFile("", 0), kReceipt},
      {DeviceFile("USEUSERTABLE=0"), kReceipt},
      {DeviceFile("", 1, 0), kReceipt},  // no definitions
      {DeviceFile(Parser("")), kReceipt},
      {DeviceFile(Parser(sale + "x")), kSale},  // a missing stylesheet
      {DeviceFile(Parser(sale)), "<Sale>"},
      {DeviceFile(), "<Receipt>"},
      {DeviceFile(), nullptr}};
  int device = 10;  // a file per case: rewrites in place may look unchanged
  for (const auto& [file, xml] : cases) {
    SCOPED_TRACE(file);
    inst.Write("devdata" + std::to_string(++device) + ".ini", file);
    Ext q;
    ASSERT_EQ(q.LoadData(device), 1);
    ExpectCopyOut(Getter(q, &Ext::GetUserInsertQuery, 42, xml), 512, "");
  }
}

// Run under LeakSanitizer too: loads, failed loads, copies and reloads of a
// stylesheet leave nothing behind.
TEST(UserInsertQueryTest, StylesheetIsReadOncePerLoadedConfiguration) {
  TestInstallation inst;
  const std::string a = inst.dv() + "/a.xsl", b = inst.dv() + "/b.xsl";
  inst.Write("a.xsl", SaleSheet("A"));
  inst.Write("b.xsl", SaleSheet("B"));
  inst.Write("devdata1.ini", DeviceFile(Parser(a)));
  const std::string from_a =
      "INSERT INTO TBL_USER1_1A2B3C4D (f_id , f_total, f_cashier) VALUES "
      "( 7 ,'A3','')";
  Ext q;
  ASSERT_EQ(q.LoadData(1), 1);
  EXPECT_EQ(Insert(q, kSale, 7), from_a);
  // Neither a new setting nor a changed file counts before a reload.
  q.SetXmlParserFile(1, b.c_str());
  inst.Write("a.xsl", SaleSheet("changed"));
  EXPECT_EQ(Insert(q, kSale, 7), from_a);
  q.UnloadData();
  ASSERT_EQ(q.LoadData(1), 1);
  EXPECT_NE(Insert(q, kSale).find("'B3'"), std::string::npos);
  // A failed load is not retried while the configuration stays loaded.
  inst.Write("bad.xsl", "<xsl:stylesheet");
  q.SetXmlParserFile(1, (inst.dv() + "/bad.xsl").c_str());
  q.UnloadData();
  ASSERT_EQ(q.LoadData(1), 1);
  EXPECT_EQ(Insert(q, kSale), "");
  inst.Write("bad.xsl", SaleSheet("fixed"));
  EXPECT_EQ(Insert(q, kSale), "");
  Ext copy(q);  // a copy loads its own stylesheet
  EXPECT_NE(Insert(copy, kSale).find("'fixed3'"), std::string::npos);
  // Nor one that reached a limit.
  EXPECT_EQ(Insert(copy, "<Loop/>"), "");
  EXPECT_EQ(Insert(copy, kSale), "");
  // The stylesheet check, with or without a device loaded.
  EXPECT_EQ(q.ValidateXslt(a.c_str()), 1);
  EXPECT_EQ(Ext().ValidateXslt(b.c_str()), 1);
  EXPECT_EQ(Ext().ValidateXslt((inst.dv() + "/devdata1.ini").c_str()), 0);
}

TEST(XmlParserSettingsTest, LoadedCopyAndFileAnswerDifferently) {
  TestInstallation inst;
  const std::string path = "/x/a/b.xsl";  // 10 characters
  const std::string file =
      "[GENERAL]\nDBTYPE=1\n[XML]\nXSLT=" + path + "\nUSEPARSER=";
  inst.Write("devdata2.ini", file + "1\n");
  inst.Write("devdata3.ini", file + "0\n");
  Ext two, three;
  ASSERT_EQ(two.LoadData(2), 1);
  ASSERT_EQ(three.LoadData(3), 1);
  // The loaded copy gives 1 and needs room for the terminator; the file
  // gives the length and is cut to the size; the switch off gives nothing.
  const std::tuple<Ext*, int, std::uint32_t, std::uint32_t, std::string>
      cases[] = {{&two, 2, 11, 1, path + '\0'},
                 {&two, 2, 10, 0, ""},
                 {&three, 2, 11, 10, path + '\0'},
                 {&three, 2, 5, 4, std::string("/x/a\0", 5)},
                 {&three, 2, 1, 0, ""},
                 {&three, 3, 64, 0, ""},
                 {&two, 3, 64, 0, ""}};
  for (const auto& [q, device, size, result, written] : cases) {
    ExpectWrite(Getter(*q, &Ext::GetXmlParserFile, device), size, result,
                written);
  }
  // Clearing writes both keys; every facade then sees the switch off.
  two.SetXmlParserFile(2, nullptr);
  EXPECT_EQ(two.GetUseXmlParser(2), 0);
  EXPECT_EQ(three.GetUseXmlParser(2), 0);
  // Another device's file is written alone (and made if missing).
  two.SetXmlParserFile(7, "/y.xsl");
  EXPECT_EQ(inst.Read("devdata7.ini").find("DBTYPE"), std::string::npos);
  EXPECT_EQ(two.GetUseXmlParser(2), 0);
  ExpectWrite(Getter(three, &Ext::GetXmlParserFile, 7), 16, 6,
              std::string("/y.xsl\0", 7));
  // A path longer than the field keeps its first 259 characters.
  const std::string long_path(300, 'p');
  two.SetXmlParserFile(2, long_path.c_str());
  EXPECT_EQ(three.GetUseXmlParser(2), 1);
  ExpectWrite(Getter(two, &Ext::GetXmlParserFile, 2), 400, 1,
              long_path.substr(0, 259) + '\0');
}

}  // namespace
}  // namespace quillmore
