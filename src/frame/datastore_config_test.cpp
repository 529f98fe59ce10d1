// Database settings, loading and text-table scripts through the public
// facade, against a temporary installation.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "quillmore/QuillmoreExt.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

using Getter = std::function<std::uint32_t(char*, std::uint32_t)>;

// Calls `get` with a sentinel-filled buffer of `size` bytes. An empty `want`
// expects the result 0 and the buffer untouched; otherwise the text, its
// terminator and nothing written after them.
void ExpectText(const Getter& get, std::uint32_t size, const std::string& want) {
  SCOPED_TRACE("size " + std::to_string(size));
  char buf[4096];
  ASSERT_LE(size, sizeof buf);
  std::memset(buf, '#', sizeof buf);
  const std::uint32_t n = get(buf, size);
  if (want.empty()) {
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(std::string(buf, sizeof buf), std::string(sizeof buf, '#'));
    return;
  }
  ASSERT_EQ(n, want.size());
  EXPECT_EQ(std::string(buf, n), want);
  EXPECT_EQ(buf[n], '\0');
  EXPECT_EQ(std::string(buf + n + 1, sizeof buf - n - 1),
            std::string(sizeof buf - n - 1, '#'));
}

// The getter at sizes 0, 1, length - 1, length and length + 1.
void ExpectTextAtEdges(const Getter& get, const std::string& want) {
  const auto len = static_cast<std::uint32_t>(want.size());
  for (std::uint32_t size : {0u, 1u, len - 1, len}) ExpectText(get, size, "");
  ExpectText(get, len + 1, want);
}

TEST(DatabaseSettingsFacadeTest, NothingLoadedGivesNothing) {
  TestInstallation inst;
  inst.Write("table2.sql", "create table %s (x int)");
  CQuillmoreExt q;
  EXPECT_EQ(q.GetUseDatabase(), -1);
  EXPECT_EQ(q.GetDatabaseType(), -1);
  using G = Getter;
  const G getters[] = {
      [&](char* b, std::uint32_t s) { return q.GetDatabaseName(b, s); },
      [&](char* b, std::uint32_t s) { return q.GetDatabaseUser(b, s); },
      [&](char* b, std::uint32_t s) { return q.GetDatabasePassword(b, s); },
      [&](char* b, std::uint32_t s) { return q.GetDatabaseServer(b, s); },
      [&](char* b, std::uint32_t s) { return q.GetDatabasePath(b, s); },
      [&](char* b, std::uint32_t s) { return q.GetConnectionString(b, s); },
      [&](char* b, std::uint32_t s) { return q.GetTableName(b, s); },
      [&](char* b, std::uint32_t s) { return q.GetCreateQuery(2, b, s); },
      [&](char* b, std::uint32_t s) { return q.GetDropQuery(2, b, s); },
  };
  for (const G& g : getters) ExpectText(g, 512, "");
  EXPECT_EQ(q.LoadData(-1), 1);
  EXPECT_EQ(q.GetUseDatabase(), -1);
}

TEST(DatabaseSettingsFacadeTest, NarrowsOnlyTheLoadedCopy) {
  TestInstallation inst;
  inst.Write("devdata2.ini",
             "[GENERAL]\nDATABASE=513\nDBTYPE=257\nDBPATH=/jet\n");
  inst.Write("devdata-1.ini", "[GENERAL]\nDBTYPE=4\n");
  CQuillmoreExt loaded, other, fresh;
  loaded.LoadData(2);
  other.LoadData(3);
  EXPECT_EQ(loaded.GetUseDatabase(), 1);
  EXPECT_EQ(loaded.GetDatabaseType(), 1);
  EXPECT_EQ(loaded.GetDatabaseTypeEx(2), 1);
  EXPECT_EQ(other.GetDatabaseTypeEx(2), 257);
  EXPECT_EQ(fresh.GetDatabaseTypeEx(2), 257);
  EXPECT_EQ(fresh.GetDatabaseTypeEx(-1), 4);  // devdata-1.ini
  // Type 257 is no Jet type for a device that is not loaded.
  ExpectText([&](char* b, std::uint32_t s) {
    return other.GetDatabasePathEx(2, b, s);
  }, 512, "");
  ExpectText([&](char* b, std::uint32_t s) {
    return loaded.GetDatabasePathEx(2, b, s);
  }, 512, "/jet");
}

TEST(DatabaseSettingsFacadeTest, ReadsTextsThroughTheirBufferSizes) {
  TestInstallation inst;
  const std::string long_text(300, 'x');
  inst.Write("devdata2.ini", "[GENERAL]\nDBTYPE=2\nDBSERVER=" + long_text +
                                 "\nDBNAME=" + std::string(256, 'n') +
                                 "\nUSER=u\n");
  inst.Write("devdata5.ini",
             "[GENERAL]\nDBTYPE=1\nDBPATH=/" + long_text + "\n");
  CQuillmoreExt q;
  q.LoadData(2);
  ExpectText([&](char* b, std::uint32_t s) {
    return q.GetDatabaseServer(b, s);
  }, 512, std::string(255, 'x'));
  ExpectText([&](char* b, std::uint32_t s) {
    return q.GetDatabaseName(b, s);
  }, 512, std::string(255, 'n'));
  // DBPATH of a device that is not loaded: 259 characters.
  ExpectText([&](char* b, std::uint32_t s) {
    return q.GetDatabasePathEx(5, b, s);
  }, 512, "/" + std::string(258, 'x'));
  q.LoadData(5);
  ExpectText([&](char* b, std::uint32_t s) {
    return q.GetDatabasePath(b, s);
  }, 512, "/" + std::string(254, 'x'));
}

TEST(DatabaseSettingsFacadeTest, TextResultsAtTheBufferEdge) {
  TestInstallation inst;
  inst.Write("devdata2.ini",
             "[GENERAL]\nDBTYPE=2\nDBSERVER=srv\nDBNAME=quillmore\nUSER=u\n"
             "PWD=secret\n");
  inst.Write("devdata3.ini", "[GENERAL]\nDBTYPE=1\nDBPATH=/data/Text\n");
  CQuillmoreExt q;
  q.LoadData(2);
  ExpectTextAtEdges([&](char* b, std::uint32_t s) {
    return q.GetDatabaseName(b, s);
  }, "quillmore");
  ExpectTextAtEdges([&](char* b, std::uint32_t s) {
    return q.GetDatabasePassword(b, s);
  }, "secret");
  ExpectTextAtEdges([&](char* b, std::uint32_t s) {
    return q.GetConnectionString(b, s);
  }, "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=u;"
     "Password=secret;Initial Catalog=quillmore;Data Source=srv");
  ExpectTextAtEdges([&](char* b, std::uint32_t s) {
    return q.GetDropQuery(9, b, s);
  }, "drop table TBL_TEXTDATAEX2_1A2B3C4D");
  ExpectText([&](char* b, std::uint32_t s) {
    return q.GetDatabasePath(b, s);  // type 2 has no path
  }, 512, "");
  q.LoadData(3);
  ExpectTextAtEdges([&](char* b, std::uint32_t s) {
    return q.GetDatabaseName(b, s);
  }, "/data/Text/textdb3.mdb");
  ExpectText([&](char* b, std::uint32_t s) {
    return q.GetDatabaseServer(b, s);  // type 1 has no server
  }, 512, "");
}

TEST(DatabaseSettingsFacadeTest, SetUseDatabase) {
  TestInstallation inst;
  inst.Write("devdata.tmp", "; from the template\n[XML]\nUSEPARSER=0\n");
  CQuillmoreExt q, reader;
  char buf[64];

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
  EXPECT_EQ(q.GetDatabaseServer(buf, sizeof buf), 3u);

  // Use 0: only the switch and the type are written; the loaded type stays.
  q.SetUseDatabase(4, 0, 4, "other", "odb", "ou", "op");
  EXPECT_EQ(reader.GetDatabaseTypeEx(4), 4);
  EXPECT_EQ(q.GetUseDatabase(), 0);
  EXPECT_EQ(q.GetDatabaseType(), 2);
  EXPECT_EQ(inst.Read("devdata4.ini").find("other"), std::string::npos);
  // A negative type stops at the same point.
  q.SetUseDatabase(4, 1, -1, "other", "odb", "ou", "op");
  EXPECT_EQ(reader.GetDatabaseTypeEx(4), -1);
  EXPECT_EQ(q.GetDatabaseType(), 2);
  EXPECT_EQ(q.GetUseDatabase(), 1);

  // Type 1: the path, never the name.
  q.SetUseDatabase(4, 1, 1, "/jet", "ignored", nullptr, nullptr);
  ExpectText([&](char* b, std::uint32_t s) {
    return q.GetDatabaseName(b, s);
  }, 64, "/jet/textdb4.mdb");
  ExpectText([&](char* b, std::uint32_t s) {
    return q.GetDatabaseUser(b, s);
  }, 64, "u");
  const std::string file = inst.Read("devdata4.ini");
  EXPECT_NE(file.find("DBPATH=/jet\n"), std::string::npos);
  EXPECT_NE(file.find("DBNAME=db\n"), std::string::npos);
  EXPECT_EQ(file.find("ignored"), std::string::npos);

  // Empty texts are written empty and read like missing ones.
  q.SetUseDatabase(4, 1, 2, "", nullptr, "", nullptr);
  for (const Getter& g : {
           Getter([&](char* b, std::uint32_t s) {
             return q.GetDatabaseServer(b, s);
           }),
           Getter([&](char* b, std::uint32_t s) {
             return q.GetDatabaseUser(b, s);
           }),
       }) {
    ExpectText(g, 64, "");
  }
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
  inst.Write("textdb.tmp", "TEMPLATE");
  inst.Write("devdata2.ini",
             "[GENERAL]\nDATABASE=1\nDBTYPE=1\nDBPATH=" + jet_dir + "\n");
  CQuillmoreExt q;
  q.LoadData(2);

  EXPECT_EQ(q.CreateDatabase(2, 1, "Replace?"), 1);  // missing: no question
  EXPECT_EQ(inst.Read(jet), "TEMPLATE");
  EXPECT_EQ(inst.questions(), 0);

  struct Case {
    const char* name;
    int ask;
    bool answer;
    const char* want;
    int questions;
  } cases[] = {
      {"ask, no keeps", 1, false, "OLD", 1},
      {"ask, yes replaces", 1, true, "TEMPLATE", 1},
      {"no asking replaces", 0, false, "TEMPLATE", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    inst.Write(jet, "OLD");
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
  inst.Write("devdata3.ini",
             "[GENERAL]\nDATABASE=0\nDBTYPE=1\nDBPATH=" + jet_dir + "\n");
  inst.Write("devdata4.ini",
             "[GENERAL]\nDATABASE=1\nDBTYPE=2\nDBPATH=" + jet_dir + "\n");
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

TEST(DatabaseSettingsFacadeTest, LoadDataKeepsItsCopyUntilAnotherLoad) {
  TestInstallation inst;
  inst.Write("devdata3.ini", "[GENERAL]\nDBTYPE=2\nDBSERVER=first\n");
  CQuillmoreExt q;
  const Getter server = [&](char* b, std::uint32_t s) {
    return q.GetDatabaseServer(b, s);
  };
  EXPECT_EQ(q.LoadData(3), 1);
  inst.Write("devdata3.ini", "[GENERAL]\nDBTYPE=2\nDBSERVER=second\n");
  EXPECT_EQ(q.LoadData(3), 1);
  ExpectText(server, 64, "first");
  q.LoadData(5);
  q.LoadData(3);
  ExpectText(server, 64, "second");
  q.UnloadData();
  EXPECT_EQ(q.GetDatabaseType(), -1);
  ExpectText(server, 64, "");
}

TEST(TextTableScriptTest, CreateQueryFromTheTableScript) {
  TestInstallation inst;
  const std::string name = "TBL_TEXTDATAEX2_1A2B3C4D";  // 24 characters
  const std::string script = "CREATE TABLE %s (x int) -- 100%% of %s";
  inst.Write("table2.sql", script);
  inst.Write("table3.sql", "");
  inst.Write("table4.sql", "%s" + std::string(2998, 'a'));
  inst.Write("table5.sql", std::string("ab\0%s", 5) + "cdef");
  CQuillmoreExt q;
  q.LoadData(2);
  const std::string expanded =
      "CREATE TABLE " + name + " (x int) -- 100% of " + name;
  auto create = [&](int type) {
    return [&q, type](char* b, std::uint32_t s) {
      return q.GetCreateQuery(type, b, s);
    };
  };
  const auto bytes = static_cast<std::uint32_t>(script.size());
  // The check counts the name once; the expansion must still fit.
  ExpectText(create(2), bytes + 24, "");
  ASSERT_GT(expanded.size(), bytes + 24u);
  ExpectText(create(2), bytes + 25, "");
  ExpectTextAtEdges(create(2), expanded);
  ExpectText(create(3), 512, "");  // a script of no bytes
  ExpectText(create(6), 512, "");  // no script
  // Only 2048 bytes are read, and the expansion stops at 1023.
  ExpectText(create(4), 2048 + 24, "");
  ExpectText(create(4), 2048 + 25, name + std::string(1023 - 24, 'a'));
  // The text ends at a zero byte; the check counts the bytes read.
  ExpectText(create(5), 9 + 24, "");
  ExpectText(create(5), 9 + 25, "ab");
}

TEST(TextTableScriptTest, CreateDatabaseQueryFromTheDatabaseScript) {
  TestInstallation inst;
  std::string script = "CREATE DATABASE %s";
  script += std::string(100 - script.size(), ' ');
  inst.Write("db1.sql", script);
  inst.Write("db2.sql", script);
  inst.Write("db3.sql", "%s %s %s %s %s");
  CQuillmoreExt q;  // no device needed
  auto create = [&](int type, const char* name) {
    return [&q, type, name](char* b, std::uint32_t s) {
      return q.GetCreateDatabaseQuery(type, name, b, s);
    };
  };
  ExpectText(create(1, "tx"), 512, "");
  ExpectText(create(2, nullptr), 512, "");
  ExpectText(create(2, ""), 512, "");
  ExpectText(create(4, "tx"), 512, "");  // no script
  // A two-character name and a 100-byte script need 111 bytes.
  const std::string want = "CREATE DATABASE tx" + std::string(82, ' ');
  ExpectText(create(2, "tx"), 110, "");
  ExpectText(create(2, "tx"), 111, want);
  // Five long names: the statement stops at 1023 characters.
  const std::string long_name(300, 'n');
  std::string five;
  for (int i = 0; i < 5; ++i) five += (i ? " " : "") + long_name;
  ExpectText(create(3, long_name.c_str()), 4096, five.substr(0, 1023));
}

TEST(FacadeCopyTest, CopiesOwnTheirState) {
  TestInstallation inst;
  inst.Write("devdata2.ini",
             "[GENERAL]\nDATABASE=1\nDBTYPE=2\nDBSERVER=srv\nDBNAME=db\n");
  inst.Write("devdata5.ini", "[GENERAL]\nDBTYPE=4\nDBSERVER=five\n");
  auto server = [](CQuillmoreExt& q) {
    return [&q](char* b, std::uint32_t s) { return q.GetDatabaseServer(b, s); };
  };
  CQuillmoreExt a;
  a.LoadData(2);
  CQuillmoreExt b(a);
  a.UnloadData();
  ExpectText(server(b), 64, "srv");
  EXPECT_EQ(a.GetDatabaseType(), -1);

  CQuillmoreExt c;
  c.LoadData(5);
  c = b;
  ExpectText(server(c), 64, "srv");
  c.SetUseDatabase(2, 1, 2, "changed", nullptr, nullptr, nullptr);
  ExpectText(server(b), 64, "srv");  // b's copy is its own
  ExpectText(server(c), 64, "changed");
  CQuillmoreExt& same = c;
  c = same;
  ExpectText(server(c), 64, "changed");

  const CQuillmoreExt never_called;
  CQuillmoreExt d(never_called);
  EXPECT_EQ(d.GetUseDatabase(), -1);
  b = never_called;
  EXPECT_EQ(b.GetDatabaseType(), -1);
  CQuillmoreExt e;
  e = c;  // into a facade that never made its state
  ExpectText(server(e), 64, "changed");
}

TEST(LoadDataTest, CountsNeverSizeAnArray) {
  TestInstallation inst;
  struct Counting : PlatformWrapper {
    using PlatformWrapper::PlatformWrapper;
    std::string ProfileString(const std::string& path, const std::string& s,
                              const std::string& k, const std::string& d,
                              std::size_t size) override {
      ++reads;
      return PlatformWrapper::ProfileString(path, s, k, d, size);
    }
    std::int32_t ProfileInt(const std::string& path, const std::string& s,
                            const std::string& k, std::int32_t d) override {
      ++reads;
      return PlatformWrapper::ProfileInt(path, s, k, d);
    }
    int reads = 0;
  } counting(&inst.platform());
  SetPlatformForTesting(&counting);
  const char* lens[] = {"-1", "2147483647", "4294967295", "99999999999"};
  for (const char* len : lens) {
    SCOPED_TRACE(len);
    inst.Write("devdata1.ini",
               std::string("[GENERAL]\nDBTYPE=1\n[XML]\nUSEUSERTABLE=1\n"
                           "[USERTABLE]\nLEN=") +
                   len + "\n[ITEMSEARCH]\nLEN=" + len + "\n");
    counting.reads = 0;
    CQuillmoreExt q;
    EXPECT_EQ(q.LoadData(1), 1);
    EXPECT_LT(counting.reads, 20);
  }
  SetPlatformForTesting(&inst.platform());
}

}  // namespace
}  // namespace quillmore
