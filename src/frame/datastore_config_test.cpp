// Database settings, loading and text-table scripts through the public
// facade, against a temporary installation.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "quillmore/QuillmoreExt.h"
#include "testing/copy_out_check.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

using Ext = CQuillmoreExt;

TEST(DatabaseSettingsFacadeTest, NothingLoadedGivesNothing) {
  TestInstallation inst;
  inst.Write("table2.sql", "create table %s (x int)");
  Ext q;
  for (int pass = 0; pass < 2; ++pass) {  // fresh, then after LoadData(-1)
    SCOPED_TRACE(pass);
    EXPECT_EQ(q.GetUseDatabase(), -1);
    EXPECT_EQ(q.GetDatabaseType(), -1);
    for (auto get : {&Ext::GetDatabaseName, &Ext::GetDatabaseUser,
                     &Ext::GetDatabasePassword, &Ext::GetDatabaseServer,
                     &Ext::GetDatabasePath, &Ext::GetConnectionString,
                     &Ext::GetTableName}) {
      ExpectCopyOut(Getter(q, get), 512, "");
    }
    ExpectCopyOut(Getter(q, &Ext::GetCreateQuery, 2), 512, "");
    ExpectCopyOut(Getter(q, &Ext::GetDropQuery, 2), 512, "");
    // The text table of a given device needs nothing loaded.
    ExpectCopyOut(Getter(q, &Ext::GetTableNameEx, 5), 64,
                  "TBL_TEXTDATAEX5_1A2B3C4D");
    EXPECT_EQ(q.LoadData(-1), 1);
  }
}

// The loaded copy answers, narrowed to 8 bits, until another device is
// loaded; other facades and devices read the file.
TEST(DatabaseSettingsFacadeTest, LoadedCopyAndFileAnswerDifferently) {
  TestInstallation inst;
  inst.Write("devdata2.ini",
             "[GENERAL]\nDATABASE=513\nDBTYPE=257\nDBPATH=/jet\n");
  inst.Write("devdata3.ini", "[GENERAL]\nDBTYPE=2\nDBSERVER=first\n");
  inst.Write("devdata-1.ini", "[GENERAL]\nDBTYPE=4\n");
  Ext loaded, other;
  loaded.LoadData(2);
  other.LoadData(3);
  EXPECT_EQ(loaded.GetUseDatabase(), 1);
  EXPECT_EQ(loaded.GetDatabaseType(), 1);
  EXPECT_EQ(loaded.GetDatabaseTypeEx(2), 1);
  EXPECT_EQ(other.GetDatabaseTypeEx(2), 257);
  EXPECT_EQ(other.GetDatabaseTypeEx(-1), 4);  // devdata-1.ini
  // Type 257 is no Jet type for a device that is not loaded.
  ExpectCopyOut(Getter(other, &Ext::GetDatabasePathEx, 2), 512, "");
  ExpectCopyOut(Getter(loaded, &Ext::GetDatabasePathEx, 2), 512, "/jet");

  const FillFn server = Getter(other, &Ext::GetDatabaseServer);
  inst.Write("devdata3.ini", "[GENERAL]\nDBTYPE=2\nDBSERVER=second\n");
  EXPECT_EQ(other.LoadData(3), 1);
  ExpectCopyOut(server, 64, "first");
  other.LoadData(5);
  other.LoadData(3);
  ExpectCopyOut(server, 64, "second");
  other.UnloadData();
  EXPECT_EQ(other.GetDatabaseType(), -1);
  ExpectCopyOut(server, 64, "");
}

TEST(DatabaseSettingsFacadeTest, TextsAtTheBufferEdgeCutToTheirFields) {
  TestInstallation inst;
  const std::string x300(300, 'x'), x255(255, 'x'), n255(255, 'n');
  inst.Write("devdata2.ini", "[GENERAL]\nDBTYPE=2\nDBSERVER=" + x300 +
                                 "\nDBNAME=" + n255 +
                                 "n\nUSER=u\nPWD=secret\n");
  inst.Write("devdata3.ini", "[GENERAL]\nDBTYPE=1\nDBPATH=/data/Text\n");
  inst.Write("devdata5.ini", "[GENERAL]\nDBTYPE=1\nDBPATH=/" + x300 + "\n");
  Ext q;
  q.LoadData(2);
  ExpectCopyOutAtEdges(Getter(q, &Ext::GetDatabaseServer), x255);
  ExpectCopyOutAtEdges(Getter(q, &Ext::GetDatabaseName), n255);
  ExpectCopyOutAtEdges(Getter(q, &Ext::GetDatabasePassword), "secret");
  ExpectCopyOutAtEdges(Getter(q, &Ext::GetConnectionString),
                       "Provider=SQLOLEDB.1;Persist Security Info=True;User "
                       "ID=u;Password=secret;Initial Catalog=" +
                           n255 + ";Data Source=" + x255);
  ExpectCopyOutAtEdges(Getter(q, &Ext::GetDropQuery, 9),
                       "drop table TBL_TEXTDATAEX2_1A2B3C4D");
  ExpectCopyOut(Getter(q, &Ext::GetDatabasePath), 512, "");  // not type 1
  // DBPATH of a device that is not loaded: 259 characters; loaded: 255.
  ExpectCopyOut(Getter(q, &Ext::GetDatabasePathEx, 5), 512,
                "/" + std::string(258, 'x'));
  q.LoadData(5);
  ExpectCopyOut(Getter(q, &Ext::GetDatabasePath), 512,
                "/" + std::string(254, 'x'));
  q.LoadData(3);
  ExpectCopyOutAtEdges(Getter(q, &Ext::GetDatabaseName),
                       "/data/Text/textdb3.mdb");
  ExpectCopyOut(Getter(q, &Ext::GetDatabaseServer), 512, "");  // type 1
}

TEST(DatabaseSettingsFacadeTest, SetUseDatabase) {
  TestInstallation inst;
  inst.Write("devdata.tmp", "; from the template\n[XML]\nUSEPARSER=0\n");
  Ext q, reader;
  // Not loaded: nothing happens.
  q.SetUseDatabase(4, 1, 2, "srv", "db", "u", "p");
  EXPECT_FALSE(inst.Exists("devdata4.ini"));

  // A missing file is made from the template first.
  q.LoadData(4);
  q.SetUseDatabase(4, 1, 2, "srv", "db", "u", "p");
  EXPECT_EQ(inst.Read("devdata4.ini"),
            "; from the template\n[XML]\nUSEPARSER=0\n[GENERAL]\nDATABASE=1\n"
            "DBTYPE=2\nDBSERVER=srv\nDBNAME=db\nUSER=u\nPWD=p\n");
  EXPECT_EQ(q.GetDatabaseType(), 2);
  ExpectCopyOut(Getter(q, &Ext::GetDatabaseServer), 64, "srv");

  // Use 0 or a negative type: only the switch and the type are written; the
  // loaded type stays.
  q.SetUseDatabase(4, 0, 4, "other", "odb", "ou", "op");
  EXPECT_EQ(reader.GetDatabaseTypeEx(4), 4);
  EXPECT_EQ(q.GetUseDatabase(), 0);
  q.SetUseDatabase(4, 1, -1, "other", "odb", "ou", "op");
  EXPECT_EQ(reader.GetDatabaseTypeEx(4), -1);
  EXPECT_EQ(q.GetDatabaseType(), 2);
  EXPECT_EQ(q.GetUseDatabase(), 1);
  EXPECT_EQ(inst.Read("devdata4.ini").find("other"), std::string::npos);

  // Type 1: the path, never the name.
  q.SetUseDatabase(4, 1, 1, "/jet", "ignored", nullptr, nullptr);
  ExpectCopyOut(Getter(q, &Ext::GetDatabaseName), 64, "/jet/textdb4.mdb");
  ExpectCopyOut(Getter(q, &Ext::GetDatabaseUser), 64, "u");
  const std::string file = inst.Read("devdata4.ini");
  EXPECT_NE(file.find("DBPATH=/jet\n"), std::string::npos);
  EXPECT_NE(file.find("DBNAME=db\n"), std::string::npos);
  EXPECT_EQ(file.find("ignored"), std::string::npos);

  // Empty texts are written empty and read like missing ones.
  q.SetUseDatabase(4, 1, 2, "", nullptr, "", nullptr);
  ExpectCopyOut(Getter(q, &Ext::GetDatabaseServer), 64, "");
  ExpectCopyOut(Getter(q, &Ext::GetDatabaseUser), 64, "");
  EXPECT_NE(inst.Read("devdata4.ini").find("DBSERVER=\n"), std::string::npos);

  // The file exists now: the template is not copied over it again.
  inst.Write("devdata.tmp", "[GENERAL]\nDBTYPE=9\n");
  q.SetUseDatabase(4, 1, 3, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(reader.GetDatabaseTypeEx(4), 3);
  EXPECT_NE(inst.Read("devdata4.ini").find("DBNAME=db\n"), std::string::npos);
}

TEST(DatabaseSettingsFacadeTest, CreateDatabaseReplacesByPolicy) {
  TestInstallation inst;
  const std::string jet_dir = inst.dir() + "/jet";
  ASSERT_EQ(::mkdir(jet_dir.c_str(), 0755), 0);
  const std::string jet = "../jet/textdb2.mdb";  // as seen from DV
  auto device = [&](int n, int use, int type) {
    inst.Write("devdata" + std::to_string(n) + ".ini",
               "[GENERAL]\nDATABASE=" + std::to_string(use) + "\nDBTYPE=" +
                   std::to_string(type) + "\nDBPATH=" + jet_dir + "\n");
  };
  device(2, 1, 1);
  device(3, 0, 1);
  device(4, 1, 2);
  inst.Write("textdb.tmp", "TEMPLATE");
  Ext q;
  q.LoadData(2);
  struct Case {
    const char* name;
    const char* old;  // nullptr: no file yet
    int ask;
    bool answer;
    const char* want;
    int questions;
  } cases[] = {
      {"missing, nobody asked", nullptr, 1, false, "TEMPLATE", 0},
      {"ask, no keeps", "OLD", 1, false, "OLD", 1},
      {"ask, yes replaces", "OLD", 1, true, "TEMPLATE", 1},
      {"no asking replaces", "OLD", 0, false, "TEMPLATE", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.old != nullptr) inst.Write(jet, c.old);
    inst.set_answer(c.answer);
    const int asked = inst.questions();
    EXPECT_EQ(q.CreateDatabase(2, c.ask, "Replace?"), 1);
    EXPECT_EQ(inst.Read(jet), c.want);
    EXPECT_EQ(inst.questions() - asked, c.questions);
  }

  // Without a template the old file stays.
  inst.Write(jet, "OLD");
  inst.Remove("textdb.tmp");
  EXPECT_EQ(q.CreateDatabase(2, 0, nullptr), 1);
  EXPECT_EQ(inst.Read(jet), "OLD");

  // Nothing to do: result 0, nothing touched, nobody asked.
  inst.Write("textdb.tmp", "TEMPLATE");
  const int asked = inst.questions();
  EXPECT_EQ(q.CreateDatabase(3, 0, nullptr), 0);  // not loaded
  q.LoadData(3);
  EXPECT_EQ(q.CreateDatabase(3, 0, nullptr), 0);  // DATABASE 0
  q.LoadData(4);
  EXPECT_EQ(q.CreateDatabase(4, 0, nullptr), 0);  // not a Jet database
  EXPECT_FALSE(inst.Exists("../jet/textdb3.mdb"));
  EXPECT_FALSE(inst.Exists("../jet/textdb4.mdb"));
  EXPECT_EQ(inst.questions(), asked);
}

TEST(TextTableScriptTest, CreateQueriesFromTheScripts) {
  TestInstallation inst;
  const std::string name = "TBL_TEXTDATAEX2_1A2B3C4D";  // 24 characters
  const std::string script = "CREATE TABLE %s (x int) -- 100%% of %s";
  inst.Write("table2.sql", script);
  inst.Write("table3.sql", "");
  inst.Write("table4.sql", "%s" + std::string(2998, 'a'));
  inst.Write("table5.sql", std::string("ab\0%s", 5) + "cdef");
  Ext q;
  q.LoadData(2);
  const std::string expanded =
      "CREATE TABLE " + name + " (x int) -- 100% of " + name;
  auto create = [&](int type) { return Getter(q, &Ext::GetCreateQuery, type); };
  const auto bytes = static_cast<std::uint32_t>(script.size());
  // The check counts the name once; the expansion must still fit.
  ExpectCopyOut(create(2), bytes + 24, "");
  ASSERT_GT(expanded.size(), bytes + 24u);
  ExpectCopyOut(create(2), bytes + 25, "");
  ExpectCopyOutAtEdges(create(2), expanded);
  ExpectCopyOut(create(3), 512, "");  // a script of no bytes
  ExpectCopyOut(create(6), 512, "");  // no script
  // Only 2048 bytes are read, and the expansion stops at 1023.
  ExpectCopyOut(create(4), 2048 + 24, "");
  ExpectCopyOut(create(4), 2048 + 25, name + std::string(1023 - 24, 'a'));
  // The text ends at a zero byte; the check counts the bytes read.
  ExpectCopyOut(create(5), 9 + 24, "");
  ExpectCopyOut(create(5), 9 + 25, "ab");

  // The database script, with no device needed; type 1 has none.
  std::string db = "CREATE DATABASE %s";
  db += std::string(100 - db.size(), ' ');
  inst.Write("db1.sql", db);
  inst.Write("db2.sql", db);
  inst.Write("db3.sql", "%s %s %s %s %s");
  q.UnloadData();
  auto create_db = [&](int type, const char* name) {
    return Getter(q, &Ext::GetCreateDatabaseQuery, type, name);
  };
  ExpectCopyOut(create_db(1, "tx"), 512, "");
  ExpectCopyOut(create_db(2, nullptr), 512, "");
  ExpectCopyOut(create_db(2, ""), 512, "");
  ExpectCopyOut(create_db(4, "tx"), 512, "");  // no script
  // A two-character name and a 100-byte script need 111 bytes.
  const std::string want = "CREATE DATABASE tx" + std::string(82, ' ');
  ExpectCopyOut(create_db(2, "tx"), 110, "");
  ExpectCopyOut(create_db(2, "tx"), 111, want);
  // Five long names: the statement stops at 1023 characters.
  const std::string long_name(300, 'n');
  std::string five;
  for (int i = 0; i < 5; ++i) five += (i ? " " : "") + long_name;
  ExpectCopyOut(create_db(3, long_name.c_str()), 4096, five.substr(0, 1023));
}

TEST(FacadeCopyTest, CopiesOwnTheirState) {
  TestInstallation inst;
  inst.Write("devdata2.ini",
             "[GENERAL]\nDATABASE=1\nDBTYPE=2\nDBSERVER=srv\nDBNAME=db\n");
  inst.Write("devdata5.ini", "[GENERAL]\nDBTYPE=4\nDBSERVER=five\n");
  auto server = [](Ext& q) { return Getter(q, &Ext::GetDatabaseServer); };
  Ext a;
  a.LoadData(2);
  Ext b(a);
  a.UnloadData();
  ExpectCopyOut(server(b), 64, "srv");
  EXPECT_EQ(a.GetDatabaseType(), -1);

  Ext c;
  c.LoadData(5);
  c = b;
  ExpectCopyOut(server(c), 64, "srv");
  c.SetUseDatabase(2, 1, 2, "changed", nullptr, nullptr, nullptr);
  ExpectCopyOut(server(b), 64, "srv");  // b's copy is its own
  Ext& same = c;
  c = same;
  ExpectCopyOut(server(c), 64, "changed");

  const Ext never_called;
  Ext d(never_called);
  EXPECT_EQ(d.GetUseDatabase(), -1);
  b = never_called;
  EXPECT_EQ(b.GetDatabaseType(), -1);
  Ext e;
  e = c;  // into a facade that never made its state
  ExpectCopyOut(server(e), 64, "changed");
}

TEST(LoadDataTest, CountsNeverSizeAnArray) {
  TestInstallation inst;
  // Every definition read takes at least one number from the file.
  struct Counting : PlatformWrapper {
    using PlatformWrapper::PlatformWrapper;
    std::int32_t ProfileInt(const std::string& path, const std::string& s,
                            const std::string& k, std::int32_t d) override {
      ++reads;
      return PlatformWrapper::ProfileInt(path, s, k, d);
    }
    int reads = 0;
  } counting(&inst.platform());
  SetPlatformForTesting(&counting);
  for (const char* len : {"-1", "2147483647", "4294967295", "99999999999"}) {
    SCOPED_TRACE(len);
    inst.Write("devdata1.ini",
               std::string("[GENERAL]\nDBTYPE=1\n[XML]\n"
                           "USEUSERTABLE=1\n[USERTABLE]\nLEN=") +
                   len + "\n[ITEMSEARCH]\nLEN=" + len + "\n");
    counting.reads = 0;
    Ext q;
    EXPECT_EQ(q.LoadData(1), 1);
    EXPECT_LT(counting.reads, 20);
  }
  SetPlatformForTesting(&inst.platform());
}

}  // namespace
}  // namespace quillmore
