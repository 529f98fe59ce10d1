#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "quillmore/QuillmoreExt.h"
#include "testing/copy_out_check.h"
#include "testing/failing_allocator.h"
#include "testing/pages.h"
#include "testing/test_installation.h"
#include "testing/user_table_def.h"

namespace quillmore {
namespace {

using Ext = CQuillmoreExt;

class UserTableFacadeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    inst.Write("devdata3.ini", "[GENERAL]\nDBTYPE=1\n");
    ASSERT_EQ(q.SetUserTableElements(3, defs.data(), 3), 1);
  }
  void TearDown() override {
    testing::Release(reinterpret_cast<char*>(page), testing::PageSize());
  }

  TestInstallation inst;
  Ext q;
  Defs items{Def("Name", 30), Def("Price", 10)};
  Defs defs{Def("Total", 20), Def("Clerk", 10), Def("Items", 0, &items)};
  // Records on a page that can't be read: the read-access test refuses them.
  _tagUSERTABLEINFO* page =
      reinterpret_cast<_tagUSERTABLEINFO*>(testing::UnreadablePage());
};

TEST_F(UserTableFacadeTest, DefinitionsReadFromTheFile) {
  // Switched off, with a count: nothing, from the file or loaded.
  inst.Write("devdata5.ini",
             "[GENERAL]\nDBTYPE=1\n[XML]\nUSEUSERTABLE=0\n"
             "[USERTABLE]\nLEN=1\nELEMENT1=a\n");
  Ext other;
  _tagUSERTABLEINFO out[3];
  for (int pass = 0; pass < 2; ++pass, other.LoadData(5)) {
    EXPECT_EQ(other.GetUseUserTable(5) + other.GetUserTableElementsCount(5) +
                  other.GetUserTableElements(5, out, 3),
              0u);
  }
  inst.Write("devdata6.ini",
             "[XML]\nUSEUSERTABLE=1\n[USERTABLE]\nLEN=2\nCHILDLEN1=257\n"
             "ELEMENT1=" +
                 std::string(60, 'g') +
                 "\nFIELDLEN1=9\nELEMENT2=x\nFIELDTYPE2=3\n[ELEMENT1]\n"
                 "ELEMENT1=kid\nFIELDTYPE1=300\nFIELDLEN1=-7\n");
  std::memset(out, 0xAB, sizeof out);
  EXPECT_EQ(q.GetUserTableElements(6, out, 1), 0u);
  EXPECT_EQ(out[0].dwChildLen, 0xABABABABu);  // untouched
  EXPECT_EQ(q.GetUserTableElements(6, page, 3), 0u);
  ASSERT_EQ(q.GetUserTableElements(6, out, 3), 2u);
  EXPECT_EQ(std::string(out[0].szElement), std::string(49, 'g'));
  ASSERT_EQ(out[0].dwChildLen, 1u);  // 257 modulo 256
  EXPECT_EQ(out[0].dwFieldLen, 0);   // not read for a group element
  EXPECT_STREQ(out[0].pChild[0].szElement, "kid");
  EXPECT_EQ(out[0].pChild[0].byFieldType, 44);
  EXPECT_EQ(out[0].pChild[0].dwFieldLen, -7);
  EXPECT_EQ(out[1].byFieldType, 3);
  EXPECT_EQ(out[1].pChild, nullptr);
  EXPECT_EQ(out[2].dwChildLen, 0u);  // records past the count are cleared
  EXPECT_EQ(q.FreeUserTableElements(out, 2), 1);
  EXPECT_EQ(q.FreeUserTableElements(nullptr, 2), 0);
  EXPECT_EQ(q.FreeUserTableElements(page, 1), 0);
}

TEST_F(UserTableFacadeTest, SetKeepsCacheAndFileInStep) {
  Defs many;
  for (int j = 1; j <= 300; ++j) many.push_back(Def("c" + std::to_string(j)));
  // A child may share a top-level name; a 50-character name keeps 49.
  Defs list{Def("Items", 0, &many), Def("Total", 1), Def(std::string(50, 'n'))};
  ASSERT_EQ(q.LoadData(3), 1);
  ASSERT_EQ(q.SetUserTableElements(3, list.data(), 3), 1);
  Ext other;  // reads the file: 300 children come back as 44
  for (auto [facade, kids] : {std::pair{&q, 300u}, std::pair{&other, 44u}}) {
    _tagUSERTABLEINFO out[3];
    ASSERT_EQ(facade->GetUserTableElements(3, out, 3), 3u);
    EXPECT_EQ(out[0].dwChildLen, kids);
    EXPECT_EQ(std::string(out[0].pChild[kids - 1].szElement),
              "c" + std::to_string(kids));
    EXPECT_EQ(std::string(out[2].szElement), std::string(49, 'n'));
    EXPECT_EQ(facade->FreeUserTableElements(out, 3), 1);
  }
  // Refused, changing neither cache nor file: a repeated name, a nameless
  // child, names equal once cut to 49 characters (at the top or as
  // children), a child array that can't be read or is missing, a top-level
  // array that can't be read, a name that is no plain identifier.
  const std::string ini = inst.Read("devdata3.ini"), c49(49, 'c');
  Defs twice{Def("A"), Def("B"), Def("A")}, blank{Def("x"), Def("")};
  Defs cut{Def(c49 + "1"), Def(c49 + "2")};
  Defs blank_child{Def("G", 0, &blank)}, cut_child{Def("G", 0, &cut)};
  Defs unreadable{Def("G", 0, &blank)}, null_child{Def("G", 0, &blank)};
  Defs prefixed{Def("x:name")}, code{Def("T"), Def("a/b")}, digit{Def("1a")};
  Defs code_child{Def("G", 0, &prefixed)};
  unreadable[0].pChild = page;
  null_child[0].pChild = nullptr;
  for (Defs* bad : {&twice, &blank_child, &cut, &cut_child, &unreadable,
                    &null_child, &code, &digit, &code_child}) {
    EXPECT_EQ(q.SetUserTableElements(3, bad->data(), bad->size()), 0);
  }
  EXPECT_EQ(q.SetUserTableElements(3, page, 1), 0);
  EXPECT_EQ(inst.Read("devdata3.ini"), ini);
  EXPECT_EQ(q.GetUserTableElementsCount(3), 3u);
  // A shorter list leaves the old keys; a count of 0 switches user tables off.
  ASSERT_EQ(q.SetUserTableElements(3, defs.data(), 2), 1);
  EXPECT_NE(inst.Read("devdata3.ini").find("ELEMENT3=nnn"), std::string::npos);
  EXPECT_EQ(other.GetUserTableElementsCount(3), 2u);
  ASSERT_EQ(q.SetUserTableElements(3, nullptr, 5), 1);
  EXPECT_EQ(q.GetUseUserTable(3), 0);
  EXPECT_EQ(other.GetUserTableElementsCount(3), 0u);
}

// Every allocation of the call fails in turn: the result is 0, the host's
// array is as it was and nothing stays allocated; then the call succeeds.
TEST_F(UserTableFacadeTest, FailedAllocationLeavesNothingBehind) {
  ASSERT_EQ(q.LoadData(3), 1);
  _tagUSERTABLEINFO out[3], before[3];
  std::memset(out, 0xAB, sizeof out);
  std::memcpy(before, out, sizeof out);
  std::uint32_t n = 0;
  for (std::size_t fail_at = 0; n == 0 && fail_at < 100; ++fail_at) {
    FailingAllocation alloc(fail_at);
    n = q.GetUserTableElements(3, out, 3);
    if (n != 0) break;
    EXPECT_TRUE(alloc.failed());
    EXPECT_EQ(alloc.live(), 0);
    EXPECT_EQ(std::memcmp(out, before, sizeof out), 0);
  }
  ASSERT_EQ(n, 3u);
  EXPECT_EQ(q.FreeUserTableElements(out, 3), 1);
}

TEST_F(UserTableFacadeTest, DdlStaysWithinTheSize) {
  // The stored batch, 103 + 1 + 103 characters read from the file: whole
  // statements or none.
  const std::uint32_t sizes[][2] = {
      {103, 0}, {104, 103}, {207, 103}, {208, 207}};
  for (const auto& [size, result] : sizes) {
    EXPECT_EQ(ExpectWithinSize(Getter(q, &Ext::GetUserCreateQueryEx, 3), size),
              result);
  }
  char buf[400];
  EXPECT_EQ(q.GetUserDropQueryByElements(3, buf, 400, nullptr, 0), 31u);
  EXPECT_STREQ(buf, "drop table [TBL_USER3_1A2B3C4D]");
  // An unreadable child array leaves its group without columns.
  Defs list{Def("Total", 20), Def("G", 0, &items)};
  list[1].pChild = page;
  EXPECT_EQ(q.GetUserCreateQueryTest(3, list.data(), 2, buf, 400), 77u);
  EXPECT_EQ(q.GetUserTableNamesByElements(3, buf, 400, list.data(), 2), 34u);
  EXPECT_EQ(q.GetUserCreateQueryTest(3, page, 1, buf, 400), 0u);
  // A child that is a group itself gives no column when the host passes it
  // in; stored, it has no children, as a reload gives it.
  Defs nested{Def("a", 5), Def("b", 6, &items)};
  Defs outer{Def("G", 0, &nested)};
  const std::string group =
      "\nCREATE TABLE USR_G3_1A2B3C4D (f_id int NOT NULL, f_a varchar(5) NULL";
  ASSERT_EQ(q.GetUserCreateQueryTest(3, outer.data(), 1, buf, 400), 70u);
  EXPECT_EQ(std::string(buf), group + ")");
  ASSERT_EQ(q.SetUserTableElements(3, outer.data(), 1), 1);
  ASSERT_GT(q.GetUserCreateQueryEx(3, buf, 400), 0u);
  EXPECT_EQ(std::string(buf), group + ", f_b varchar(6) NULL)");
}

TEST_F(UserTableFacadeTest, TextQueriesOfTheLoadedDevice) {
  char buf[2000];
  EXPECT_EQ(q.GetDeleteQueryByID(5, buf, sizeof buf), 0u);  // nothing loaded
  ASSERT_EQ(q.LoadData(3), 1);
  // Six groups: the DELETEs' 100-byte name list holds four, the SELECT's all.
  defs.pop_back();
  for (int g = 1; g <= 6; ++g)
    defs.push_back(Def("G" + std::to_string(g), 0, &items));
  ASSERT_EQ(q.SetUserTableElements(3, defs.data(), 8), 1);
  const std::string deletes(buf, q.GetDeleteQueryByID(500, buf, sizeof buf));
  EXPECT_NE(deletes.find("\nDELETE FROM [USR_G43_1A2B3C4D] WHERE f_id < 500"),
            std::string::npos);
  EXPECT_EQ(deletes.find("USR_G5"), std::string::npos);
  const std::uint32_t t = q.GetSelectTemplateQuery(buf, sizeof buf);
  const std::string templ(buf, t);
  EXPECT_EQ(templ.find("USR_G63_1A2B3C4D.f_id  WHERE"), t - 75);
  // The filled SELECT: size counted with the placeholders, cut at 1023.
  const std::string bound(19, 'F'), wide(600, 'w');
  std::string filled = templ;
  for (int i = 0; i < 2; ++i) filled.replace(filled.find("%s"), 2, bound);
  const FillFn select =
      Getter(q, &Ext::GetSelectQueryByDateTime, bound.c_str(), bound.c_str());
  ExpectCopyOut(select, t + 37, "");
  ExpectCopyOut(select, t + 38, filled);
  EXPECT_EQ(q.GetSelectQueryByDateTime(wide.c_str(), wide.c_str(), buf, 2000),
            1023u);
  EXPECT_EQ(q.GetSelectQueryByDateTime(nullptr, "b", buf, 100), 0u);
  // INSERT: no terminator, a size equal to the length is enough.
  const FillFn insert =
      Getter(q, &Ext::GetInsertQueryEx, 7, "d", "s", "t", "", "p", 9u);
  const std::uint32_t len = insert(buf, sizeof buf);
  ASSERT_EQ(std::string(buf, len).find("INSERT INTO TBL_TEXTDATAEX3_"), 0u);
  ExpectWrite(insert, len - 1, 0, "");
  ExpectWrite(insert, len, len, std::string(buf, len));
  EXPECT_EQ(q.GetInsertQueryEx(7, "d", nullptr, "t", "", "p", 0, buf, 2000),
            0u);
  // Database type 0: no DELETEs, but INSERT and SELECT still work.
  inst.Write("devdata8.ini", "[GENERAL]\nDBTYPE=0\n");
  ASSERT_EQ(q.LoadData(8), 1);
  EXPECT_EQ(q.GetDeleteQueryByDate("d", buf, sizeof buf), 0u);
  EXPECT_GT(q.GetInsertQueryEx(1, "", "", "", "", "", 0, buf, sizeof buf), 0u);
  EXPECT_EQ(q.GetSelectTemplateQuery(buf, sizeof buf), 93u);
}

}  // namespace
}  // namespace quillmore
