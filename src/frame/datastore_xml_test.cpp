// User-table inserts, stylesheet checks and the XML parser settings, through
// the public interface with real files in a temporary installation.
#include <gtest/gtest.h>

#include <string>
#include <utility>

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

constexpr const char* kReceiptInserts =
    "INSERT INTO TBL_USER1_1A2B3C4D (f_id , f_total, f_cashier) VALUES ( 42 "
    ",'12.50','Ann')\n"
    "INSERT INTO USR_ITEM1_1A2B3C4D (f_id ,f_name,f_price) VALUES ( 42 "
    ",'Tea','2.00')\n"
    "INSERT INTO USR_ITEM1_1A2B3C4D (f_id ,f_price,f_name) VALUES ( 42 "
    ",'10.50','Cake')";

struct Settings {
  int dbtype = 1;
  int use_parser = 0;
  std::string xslt = "";
  int use_user_table = 1;
  int len = 3;
};

Settings Parser(std::string xslt) { return {1, 1, std::move(xslt)}; }

// Device file with Total, Cashier and the group Item(name, price).
std::string DeviceFile(const Settings& s) {
  return "[GENERAL]\nDATABASE=1\nDBTYPE=" + std::to_string(s.dbtype) +
         "\n[XML]\nUSEPARSER=" + std::to_string(s.use_parser) +
         "\nXSLT=" + s.xslt +
         "\nUSEUSERTABLE=" + std::to_string(s.use_user_table) +
         "\n[USERTABLE]\nLEN=" + std::to_string(s.len) +
         "\nCHILDLEN1=0\nELEMENT1=Total\nFIELDLEN1=20\n"
         "CHILDLEN2=0\nELEMENT2=Cashier\nFIELDLEN2=30\n"
         "CHILDLEN3=2\nELEMENT3=Item\n"
         "[ELEMENT3]\nELEMENT1=name\nFIELDLEN1=40\nELEMENT2=price\n"
         "FIELDLEN2=10\n";
}

// Renames <Sale><Sum>..</Sum><By>..</By></Sale> into the receipt form,
// putting `mark` before the total so tests can tell stylesheets apart.
std::string RenamingSheet(const std::string& mark) {
  return "<xsl:stylesheet version='1.0' "
         "xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
         "<xsl:template match='/Sale'><Receipt><Total>" +
         mark +
         "<xsl:value-of select='Sum'/></Total><Cashier>"
         "<xsl:value-of select='By'/></Cashier></Receipt></xsl:template>"
         "</xsl:stylesheet>";
}

constexpr const char* kSale = "<Sale><Sum>3</Sum><By>O'Neil</By></Sale>";

std::string Insert(Ext& q, const char* xml, int id = 42) {
  char buf[1024];
  std::uint32_t n = q.GetUserInsertQuery(id, xml, buf, sizeof buf);
  return n == 0 ? std::string() : std::string(buf, n);
}

TEST(UserInsertQueryTest, WorkedExampleAndBufferEdges) {
  TestInstallation inst;
  inst.Write("devdata1.ini", DeviceFile({}));
  Ext q;
  ASSERT_EQ(q.LoadData(1), 1);
  const std::string expected = kReceiptInserts;
  const auto len = static_cast<std::uint32_t>(expected.size());
  const FillFn insert = Getter(q, &Ext::GetUserInsertQuery, 42, kReceipt);
  // The size is read as a signed number.
  for (std::uint32_t size : {0u, 1u, len, 0x80000000u, 0xFFFFFFFFu}) {
    ExpectWrite(insert, size, 0, "");
  }
  ExpectWrite(insert, len + 1, len, expected + '\0');
  EXPECT_EQ(q.GetUserInsertQuery(42, kReceipt, nullptr, 4096), 0u);

  // Only group elements and no occurrence: an empty text, result 0.
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
  inst.Write("sale.xsl", RenamingSheet(""));
  const std::string sale = inst.dv() + "/sale.xsl";
  struct Case {
    const char* name;
    Settings settings;
    const char* xml;
  } cases[] = {
      {"database type 0", {0}, kReceipt},
      {"user tables off", {1, 0, "", 0}, kReceipt},
      {"no definitions", {1, 0, "", 1, 0}, kReceipt},
      {"parser on, no stylesheet", Parser(""), kReceipt},
      {"parser on, missing file", Parser(inst.dv() + "/none.xsl"), kSale},
      {"parser on, record not XML", Parser(sale), "<Sale>"},
      {"record not XML", {}, "<Receipt>"},
      {"empty record", {}, ""},
      {"no record", {}, nullptr},
  };
  int device = 10;  // a file per case: rewrites in place may look unchanged
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++device;
    inst.Write("devdata" + std::to_string(device) + ".ini",
               DeviceFile(c.settings));
    Ext q;
    ASSERT_EQ(q.LoadData(device), 1);
    ExpectCopyOut(Getter(q, &Ext::GetUserInsertQuery, 42, c.xml), 512, "");
  }
  inst.Write("devdata1.ini", DeviceFile({}));
  Ext q;
  ExpectCopyOut(Getter(q, &Ext::GetUserInsertQuery, 42, kReceipt), 512, "");
  // Database type 0 set on the loaded copy, definitions still cached.
  ASSERT_EQ(q.LoadData(1), 1);
  ASSERT_NE(Insert(q, kReceipt), "");
  q.SetUseDatabase(1, 1, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_EQ(q.GetDatabaseType(), 0);
  EXPECT_EQ(Insert(q, kReceipt), "");
}

// Run under LeakSanitizer too: loads, failed loads, copies and reloads of a
// stylesheet leave nothing behind.
TEST(UserInsertQueryTest, StylesheetIsReadOncePerLoadedConfiguration) {
  TestInstallation inst;
  const std::string a = inst.dv() + "/a.xsl", b = inst.dv() + "/b.xsl";
  inst.Write("a.xsl", RenamingSheet("A"));
  inst.Write("b.xsl", RenamingSheet("B"));
  inst.Write("devdata1.ini", DeviceFile(Parser(a)));
  inst.Write("devdata2.ini", DeviceFile({}));
  const std::string from_a =
      "INSERT INTO TBL_USER1_1A2B3C4D (f_id , f_total, f_cashier) VALUES "
      "( 7 ,'A3','O''Neil')";
  Ext q;
  ASSERT_EQ(q.LoadData(1), 1);
  EXPECT_EQ(Insert(q, kSale, 7), from_a);
  // Neither a new setting nor a changed file counts before a reload.
  q.SetXmlParserFile(1, b.c_str());
  inst.Write("a.xsl", RenamingSheet("changed"));
  EXPECT_EQ(Insert(q, kSale, 7), from_a);
  q.UnloadData();
  ASSERT_EQ(q.LoadData(1), 1);
  EXPECT_NE(Insert(q, kSale, 7).find("'B3'"), std::string::npos);

  // A failed load is not retried while the configuration stays loaded.
  inst.Write("bad.xsl", "<xsl:stylesheet");
  q.SetXmlParserFile(1, (inst.dv() + "/bad.xsl").c_str());
  q.UnloadData();
  ASSERT_EQ(q.LoadData(1), 1);
  EXPECT_EQ(Insert(q, kSale), "");
  inst.Write("bad.xsl", RenamingSheet("fixed"));
  EXPECT_EQ(Insert(q, kSale), "");
  Ext copy(q);  // a copy loads its own stylesheet
  EXPECT_NE(Insert(copy, kSale, 7).find("'fixed3'"), std::string::npos);
  // A device without a parser uses no stylesheet; back again, it is read.
  ASSERT_EQ(q.LoadData(2), 1);
  EXPECT_NE(Insert(q, kReceipt), "");
  ASSERT_EQ(q.LoadData(1), 1);
  EXPECT_NE(Insert(q, kSale, 7).find("'fixed3'"), std::string::npos);
}

TEST(ValidateXsltTest, WellFormedFilesOnlyWithOrWithoutADevice) {
  TestInstallation inst;
  inst.Write("sheet.xsl", RenamingSheet(""));
  inst.Write("plain.xml", "<a/>");
  inst.Write("broken.xsl", "<xsl:stylesheet><a></xsl:stylesheet>");
  inst.Write("latin1.xml",
             "<?xml version='1.0' encoding='ISO-8859-1'?><a>\xE9</a>");
  inst.Write("unbound.xml", "<x:a/>");
  inst.Write("empty.xml", "");
  inst.Write("devdata1.ini", DeviceFile({}));
  const std::pair<std::string, int> cases[] = {
      {"/sheet.xsl", 1},  {"/plain.xml", 1},
      {"/broken.xsl", 0}, {"/none.xsl", 0},
      {"/latin1.xml", 1}, {"/unbound.xml", 0},
      {"/empty.xml", 0},  {"", 0} /* the folder */};
  Ext q;
  for (int loaded = 0; loaded < 2; ++loaded) {
    if (loaded == 1) {
      ASSERT_EQ(q.LoadData(1), 1);
    }
    for (const auto& [name, result] : cases) {
      SCOPED_TRACE(name + (loaded ? " loaded" : ""));
      EXPECT_EQ(q.ValidateXslt((inst.dv() + name).c_str()), result);
    }
  }
  EXPECT_EQ(q.ValidateXslt(""), 0);
  EXPECT_EQ(q.ValidateXslt(nullptr), 0);
}

TEST(XmlParserSettingsTest, LoadedCopyAndFileAnswerDifferently) {
  TestInstallation inst;
  const std::string path = "/x/a/b.xsl";  // 10 characters
  inst.Write("devdata2.ini",
             "[GENERAL]\nDBTYPE=1\n[XML]\nUSEPARSER=1\nXSLT=" + path + "\n");
  inst.Write("devdata3.ini",
             "[GENERAL]\nDBTYPE=1\n[XML]\nUSEPARSER=0\nXSLT=" + path + "\n");
  Ext two, three;
  ASSERT_EQ(two.LoadData(2), 1);
  ASSERT_EQ(three.LoadData(3), 1);
  struct Case {
    const char* name;
    Ext* q;
    int device;
    std::uint32_t size;
    std::uint32_t result;
    std::string written;
  } cases[] = {
      {"loaded, fits", &two, 2, 11, 1, path + '\0'},
      {"loaded, no room for the terminator", &two, 2, 10, 0, ""},
      {"file, fits", &three, 2, 11, 10, path + '\0'},
      {"file, cut", &three, 2, 5, 4, std::string("/x/a\0", 5)},
      {"file, size 1", &three, 2, 1, 0, ""},
      {"switch off, loaded", &three, 3, 64, 0, ""},
      {"switch off, file", &two, 3, 64, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectWrite(Getter(*c.q, &Ext::GetXmlParserFile, c.device), c.size,
                c.result, c.written);
  }

  // Clearing writes both keys; every facade then sees the switch off.
  two.SetXmlParserFile(2, nullptr);
  EXPECT_EQ(two.GetUseXmlParser(2), 0);
  EXPECT_EQ(three.GetUseXmlParser(2), 0);
  ExpectWrite(Getter(three, &Ext::GetXmlParserFile, 2), 16, 0, "");
  two.SetXmlParserFile(2, path.c_str());
  EXPECT_EQ(three.GetUseXmlParser(2), 1);
  two.SetXmlParserFile(2, "");
  EXPECT_EQ(three.GetUseXmlParser(2), 0);

  // Another device's file is written alone (and made if missing).
  two.SetXmlParserFile(2, path.c_str());
  two.SetXmlParserFile(7, "/y.xsl");
  EXPECT_EQ(inst.Read("devdata7.ini").find("DBTYPE"), std::string::npos);
  ExpectWrite(Getter(three, &Ext::GetXmlParserFile, 7), 16, 6,
              std::string("/y.xsl\0", 7));
  ExpectWrite(Getter(two, &Ext::GetXmlParserFile, 2), 16, 1, path + '\0');

  // A path longer than the field keeps its first 259 characters.
  const std::string long_path(300, 'p');
  two.SetXmlParserFile(2, long_path.c_str());
  ExpectWrite(Getter(two, &Ext::GetXmlParserFile, 2), 400, 1,
              long_path.substr(0, 259) + '\0');
}

}  // namespace
}  // namespace quillmore
