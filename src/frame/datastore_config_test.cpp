// Database settings, loading and text-table scripts through the public
// facade, against a temporary installation.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include "platform/win32_files.h"
#else
#include "platform/posix_files.h"
#endif
#include "quillmore/QuillmoreExt.h"
#include "search/test_records.h"
#include "testing/copy_out_check.h"
#include "testing/generous_time.h"
#include "testing/test_installation.h"
#include "testing/user_table_def.h"

namespace quillmore {
namespace {

using Ext = CQuillmoreExt;

using testing::kGenerousSeconds;
using testing::ProcessorSecondsSince;

#ifndef _WIN32
// Runs `body` in a child process; ExitCode waits for it (-1: killed).
template <typename F>
pid_t Child(F body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}
int ExitCode(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

class ConfigFacadeTest : public ::testing::Test {
 protected:
  TestInstallation inst;
  Ext q;
};

// The loaded copy answers, narrowed to 8 bits, until another device is
// loaded; other facades and devices read the file. With nothing loaded only
// the text table of a given device is named.
TEST_F(ConfigFacadeTest, LoadedCopyAndFileAnswerDifferently) {
  inst.Write("devdata2.ini",
             "[GENERAL]\nDATABASE=513\nDBTYPE=257\nDBPATH=/jet\nUSER=u\n");
  inst.Write("devdata3.ini", "[GENERAL]\nDBTYPE=2\nDBSERVER=first\n");
  inst.Write("devdata-1.ini", "[GENERAL]\nDBTYPE=4\n");
  inst.Write("table2.sql", "create table %s (x int)");
  Ext other, never;
  q.LoadData(2);
  other.LoadData(3);
  EXPECT_EQ(q.GetUseDatabase(), 1);
  EXPECT_EQ(q.GetDatabaseType(), 1);
  EXPECT_EQ(q.GetDatabaseTypeEx(2), 1);
  EXPECT_EQ(other.GetDatabaseTypeEx(2), 257);
  EXPECT_EQ(other.GetDatabaseTypeEx(-1), 4);  // devdata-1.ini
  // Type 257 is no Jet type for a device that is not loaded.
  ExpectCopyOut(Getter(other, &Ext::GetDatabasePathEx, 2), 512, "");
  ExpectCopyOut(Getter(q, &Ext::GetDatabasePathEx, 2), 512, "/jet");

  const FillFn server = Getter(other, &Ext::GetDatabaseServer);
  inst.Write("devdata3.ini", "[GENERAL]\nDBTYPE=2\nDBSERVER=second\n");
  EXPECT_EQ(other.LoadData(3), 1);  // loaded already: the copy stays
  ExpectCopyOut(server, 64, "first");
  other.LoadData(5);
  other.LoadData(3);
  ExpectCopyOut(server, 64, "second");

  other.UnloadData();
  q.LoadData(-1);
  for (Ext* e : {&never, &other, &q}) {
    EXPECT_EQ(e->GetUseDatabase(), -1);
    EXPECT_EQ(e->GetDatabaseType(), -1);
    for (auto get : {&Ext::GetDatabaseName, &Ext::GetDatabaseUser,
                     &Ext::GetDatabasePassword, &Ext::GetDatabaseServer,
                     &Ext::GetDatabasePath, &Ext::GetConnectionString,
                     &Ext::GetTableName}) {
      ExpectCopyOut(Getter(*e, get), 512, "");
    }
    ExpectCopyOut(Getter(*e, &Ext::GetCreateQuery, 2), 512, "");
    ExpectCopyOut(Getter(*e, &Ext::GetDropQuery, 2), 512, "");
    ExpectCopyOut(Getter(*e, &Ext::GetTableNameEx, 5), 64,
                  "TBL_TEXTDATAEX5_1A2B3C4D");
  }
}

TEST_F(ConfigFacadeTest, TextsAtTheBufferEdgeCutToTheirFields) {
  const std::string x300(300, 'x'), x255(255, 'x'), n255(255, 'n');
  inst.Write("devdata2.ini", "[GENERAL]\nDBTYPE=2\nDBSERVER=" + x300 +
                                 "\nDBNAME=" + n255 + "n\nPWD=secret\n");
  inst.Write("devdata5.ini", "[GENERAL]\nDBTYPE=1\nDBPATH=/" + x300 + "\n");
  q.LoadData(2);
  ExpectCopyOutAtEdges(Getter(q, &Ext::GetDatabaseServer), x255);
  ExpectCopyOutAtEdges(Getter(q, &Ext::GetDatabaseName), n255);
  ExpectCopyOut(Getter(q, &Ext::GetDatabasePassword), 64, "secret");
  ExpectCopyOut(Getter(q, &Ext::GetDropQuery, 9), 64,
                "drop table TBL_TEXTDATAEX2_1A2B3C4D");
  ExpectCopyOut(Getter(q, &Ext::GetDatabasePath), 512, "");  // not type 1
  // DBPATH of a device that is not loaded: 259 characters; loaded: 255.
  ExpectCopyOut(Getter(q, &Ext::GetDatabasePathEx, 5), 512,
                "/" + std::string(258, 'x'));
  q.LoadData(5);
  ExpectCopyOut(Getter(q, &Ext::GetDatabasePath), 512,
                "/" + std::string(254, 'x'));
  ExpectCopyOut(Getter(q, &Ext::GetDatabaseServer), 512, "");  // type 1
}

TEST_F(ConfigFacadeTest, SetUseDatabaseWritesTheLoadedDevice) {
  inst.Write("devdata.tmp", "; from the template\n[XML]\nUSEPARSER=0\n");
  Ext reader;
  q.SetUseDatabase(4, 1, 2, "srv", "db", "u", "p");  // not loaded: nothing
  EXPECT_FALSE(inst.Exists("devdata4.ini"));
  // A missing file is made from the template first.
  q.LoadData(4);
  q.SetUseDatabase(4, 1, 2, "srv", "db", "u", "p");
  const std::string head =
      "; from the template\n[XML]\nUSEPARSER=0\n[GENERAL]\n";
  auto file = [&] { return inst.Read("devdata4.ini"); };
  EXPECT_EQ(
      file(),
      head + "DATABASE=1\nDBTYPE=2\nDBSERVER=srv\nDBNAME=db\nUSER=u\nPWD=p\n");
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
  // Type 1: the path, never the name; null texts stay as they are.
  q.SetUseDatabase(4, 1, 1, "/jet", "ignored", nullptr, nullptr);
  ExpectCopyOut(Getter(q, &Ext::GetDatabaseName), 64, "/jet/textdb4.mdb");
  ExpectCopyOut(Getter(q, &Ext::GetDatabaseUser), 64, "u");
  // Empty texts are written empty and read like missing ones.
  q.SetUseDatabase(4, 1, 2, "", nullptr, "", nullptr);
  ExpectCopyOut(Getter(q, &Ext::GetDatabaseServer), 64, "");
  // The file exists now: the template is not copied over it again.
  inst.Write("devdata.tmp", "[GENERAL]\nDBTYPE=9\n");
  q.SetUseDatabase(4, 1, 3, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(file(), head +
                        "DATABASE=1\nDBTYPE=3\nDBSERVER=\nDBNAME=db\nUSER="
                        "\nPWD=p\nDBPATH=/jet\n");
}

// Copies the template to the Jet file of the loaded device; asks first
// only when told to and the file is there.
TEST_F(ConfigFacadeTest, CreateDatabaseReplacesByPolicy) {
  const std::string jet_in_dv = "\nDBPATH=" + inst.dv() + "\n";
  inst.Write("devdata2.ini", "[GENERAL]\nDATABASE=1\nDBTYPE=1" + jet_in_dv);
  inst.Write("devdata3.ini", "[GENERAL]\nDATABASE=0\nDBTYPE=1" + jet_in_dv);
  inst.Write("devdata4.ini", "[GENERAL]\nDATABASE=1\nDBTYPE=2" + jet_in_dv);
  struct Case {
    const char *name, *want;  // want: the file afterwards ("" for none)
    int loaded, device, ask, result, questions;
    bool old, tmp, answer;  // a file there already; a template; the answer
  } cases[] = {
      {"missing, nobody asked", "TEMPLATE", 2, 2, 1, 1, 0, false, true, false},
      {"ask, no keeps", "OLD", 2, 2, 1, 1, 1, true, true, false},
      {"ask, yes replaces", "TEMPLATE", 2, 2, 1, 1, 1, true, true, true},
      {"no asking replaces", "TEMPLATE", 2, 2, 0, 1, 0, true, true, false},
      {"no template keeps", "OLD", 2, 2, 0, 1, 0, true, false, false},
      {"not loaded", "", 2, 3, 1, 0, 0, false, true, true},
      {"DATABASE 0", "", 3, 3, 1, 0, 0, false, true, true},
      {"not Jet", "", 4, 4, 1, 0, 0, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = "textdb" + std::to_string(c.device) + ".mdb";
    c.old ? inst.Write(file, "OLD") : inst.Remove(file);
    c.tmp ? inst.Write("textdb.tmp", "TEMPLATE") : inst.Remove("textdb.tmp");
    inst.set_answer(c.answer);
    const int asked = inst.questions();
    q.LoadData(c.loaded);
    EXPECT_EQ(q.CreateDatabase(c.device, c.ask, "Replace?"), c.result);
    EXPECT_EQ(inst.Read(file), c.want);
    EXPECT_EQ(inst.questions() - asked, c.questions);
  }
}

TEST_F(ConfigFacadeTest, CreateQueriesFromTheScripts) {
  const std::string name = "TBL_TEXTDATAEX2_1A2B3C4D";  // 24 characters
  inst.Write("table2.sql", "CREATE TABLE %s (x int) -- 100%% of %s");
  inst.Write("table4.sql", "%s" + std::string(2998, 'a'));
  inst.Write("table5.sql", std::string("ab\0%s", 5) + "cdef");
  q.LoadData(2);
  auto create = [&](int type) { return Getter(q, &Ext::GetCreateQuery, type); };
  ExpectCopyOutAtEdges(create(2),
                       "CREATE TABLE " + name + " (x int) -- 100% of " + name);
  ExpectCopyOut(create(6), 512, "");  // no script
  // Only 2048 bytes are read, and the expansion stops at 1023.
  ExpectCopyOut(create(4), 2048 + 24, "");
  ExpectCopyOut(create(4), 2048 + 25, name + std::string(1023 - 24, 'a'));
  // The text ends at a zero byte; the size check counts the bytes read.
  ExpectCopyOut(create(5), 9 + 24, "");
  ExpectCopyOut(create(5), 9 + 25, "ab");

  // The database script needs no device; type 1 has none. The size check
  // counts the script's bytes and five names; the statement stops at 1023.
  inst.Write("db1.sql", "%s %s %s %s %s");
  inst.Write("db2.sql", "%s %s %s %s %s");
  q.UnloadData();
  auto create_db = [&](int type, const char* name) {
    return Getter(q, &Ext::GetCreateDatabaseQuery, type, name);
  };
  ExpectCopyOut(create_db(1, "tx"), 512, "");
  ExpectCopyOut(create_db(2, nullptr), 512, "");
  ExpectCopyOut(create_db(3, "tx"), 512, "");  // no script
  ExpectCopyOut(create_db(2, "tx"), 512, "tx tx tx tx tx");
  const std::string n(300, 'n');
  ExpectCopyOut(create_db(2, n.c_str()), 14 + 1500, "");
  ExpectCopyOut(create_db(2, n.c_str()), 14 + 1501,
                (n + " " + n + " " + n + " " + n).substr(0, 1023));
}

TEST_F(ConfigFacadeTest, CopiesOwnTheirState) {
  inst.Write("devdata2.ini", "[GENERAL]\nDATABASE=1\nDBTYPE=2\nDBSERVER=srv\n");
  inst.Write("devdata5.ini", "[GENERAL]\nDBTYPE=4\nDBSERVER=five\n");
  auto server = [](Ext& e) { return Getter(e, &Ext::GetDatabaseServer); };
  q.LoadData(2);
  Ext b(q), c, never_called;
  q.UnloadData();
  ExpectCopyOut(server(b), 64, "srv");
  c.LoadData(5);
  ExpectCopyOut(server(c), 64, "five");  // MySQL has a server too
  c = b;
  c.SetUseDatabase(2, 1, 2, "changed", nullptr, nullptr, nullptr);
  ExpectCopyOut(server(b), 64, "srv");  // b's copy is its own
  Ext& same = c;
  c = same;
  Ext d(never_called), e;
  e = c;  // into a facade that never made its state
  ExpectCopyOut(server(e), 64, "changed");
  b = d;
  EXPECT_EQ(b.GetDatabaseType(), -1);
}

// Setters write at most once (one temporary file, one sync, one rename),
// and not at all when no byte changes: each runs twice.
TEST_F(ConfigFacadeTest, OneSyncPerOperation) {
  static int syncs = 0;
#ifdef _WIN32
  auto& calls = Win32FileCalls();
  const auto real = calls;
  calls.flush = [](HANDLE h) { return ++syncs, ::FlushFileBuffers(h); };
#else
  auto& calls = PosixFileCalls();
  const auto real = calls;
  calls.fsync = [](int fd) { return ++syncs, ::fdatasync(fd); };
#endif
  inst.Write("devdata.tmp", "[GENERAL]\n");
  Defs defs{Def("T", 5), Def("C", 6)};
  _tagITEMSEARCHINFO it[2] = {testing::Def(2, "a"), testing::Def(2, "b")};
  q.LoadData(1);
  std::string counts;
  auto twice = [&](auto op) {
    for (int i = 0; i < 2; ++i, counts += std::to_string(syncs), syncs = 0)
      op();
  };
  twice([&] { q.SetUseDatabase(1, 1, 2, "s", "n", "u", "p"); });
  twice([&] { q.SetXmlParserFile(1, "/x.xsl"); });
  twice([&] { q.SetUserTableElements(1, defs.data(), 2); });
  twice([&] { q.SetItemSearchElement(1, it, 2); });
  twice([&] { q.SetItemSearchElementByIndex(1, 0, &it[1]); });
  twice([&] { q.SetItemSearchElementByIndex(1, 5, &it[1]); });
  twice([&] { q.AddItemSearchElement(1, &it[0]); });
  twice([&] { q.DeleteItemSearchElementByIndex(1, 0); });
  calls = real;
  EXPECT_EQ(counts, "1010101010001111");
}

#ifndef _WIN32  // no fork
// Two processes of four threads (a facade each) add 100 items each, while
// pairs of processes write two user-table lists again and again and are
// killed at varying moments. Each operation is one transaction: no item is
// lost, and every read finds one whole list.
TEST_F(ConfigFacadeTest, ConcurrentOperationsAreWhole) {
  Defs lists[2] = {{Def("A1"), Def("A2"), Def("A3")},
                   {Def("B1"), Def("B2"), Def("B3"), Def("B4"), Def("B5")}};
  auto whole = [&] {
    _tagUSERTABLEINFO out[5];
    const std::uint32_t n = Ext().GetUserTableElements(1, out, 5);
    std::string got;
    for (std::uint32_t i = 0; i < n; ++i) got += out[i].szElement;
    return got == (n == 3 ? "A1A2A3" : "B1B2B3B4B5");
  };
  auto adds = [](int a) {
    std::vector<std::jthread> threads;  // joined when they leave
    for (int t = 0; t < 4; ++t)
      threads.emplace_back([=] {
        for (int n = 0; n < 25; ++n) {
          auto item = testing::Def(2, std::to_string(a * 100 + t * 25 + n));
          Ext().AddItemSearchElement(1, &item);
        }
      });
    return 0;
  };
  q.SetUserTableElements(1, lists[0].data(), 3);
  const pid_t adders[2] = {Child([&] { return adds(0); }),
                           Child([&] { return adds(1); })};
  for (int round = 0; round < 12; ++round) {
    int wrote[2];
    ASSERT_EQ(::pipe(wrote), 0);
    auto writer = [&](int w) {
      return Child([&, w] {
        for (int n = w;; ++n) {
          Ext().SetUserTableElements(1, lists[n % 2].data(), 3 + n % 2 * 2);
          if (n == w && ::write(wrote[1], "w", 1) != 1) return 1;
        }
      });
    };
    const pid_t writers[2] = {writer(0), writer(1)};
    // Both have finished a write: no assumption about how fast they run.
    char c[2];
    EXPECT_EQ(::read(wrote[0], c, 1) + ::read(wrote[0], c + 1, 1), 2);
    for (int r = 0; r < round; ++r) EXPECT_TRUE(whole()) << round;
    ::usleep(static_cast<useconds_t>(round * 997 % 6000));
    for (pid_t pid : writers) ::kill(pid, SIGKILL), ExitCode(pid);
    ::close(wrote[0]), ::close(wrote[1]);
    EXPECT_TRUE(whole()) << round;
  }
  for (pid_t pid : adders) EXPECT_EQ(ExitCode(pid), 0);
  std::vector<_tagITEMSEARCHINFO> all(200);
  ASSERT_EQ(q.GetItemSearchElement(1, all.data(), 200), 1);
  std::set<std::string> keywords;
  for (const auto& item : all) keywords.insert(item.szKeyword);
  EXPECT_EQ(keywords.size(), 200u);
}
#endif

// Time and memory follow the file's size, not the counts it names: 65536
// groups of 255 children that exist only as counts (1.17 MB), or 100,000
// keys beside a count of 65536 (0.9 MB).
TEST_F(ConfigFacadeTest, HostileCountsLoadInTimeOfTheFileSize) {
  std::string groups, keys;
  for (int i = 1; i <= 100000; ++i) {
    if (i <= 65536) groups += "CHILDLEN" + std::to_string(i) + "=255\n";
    keys += "X" + std::to_string(i) + "=1\n";
  }
  for (const std::string& body : {groups, keys}) {
    inst.Write("devdata1.ini",
               "[GENERAL]\nDBTYPE=2\n[XML]\nUSEUSERTABLE=1\n[USERTABLE]\n"
               "LEN=65536\n" +
                   body);
    const std::clock_t start = std::clock();
    Ext e;
    e.LoadData(1);
    EXPECT_EQ(e.GetUserTableElementsCount(1), 65536u);
    EXPECT_LT(ProcessorSecondsSince(start), kGenerousSeconds);
  }
}

}  // namespace
}  // namespace quillmore
