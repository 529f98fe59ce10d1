#include "usertable/user_table_ddl.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/user_table_def.h"

namespace quillmore {
namespace {

constexpr std::uint32_t kSerial = 0x1A2B3C4D;

const std::string kMain =
    "CREATE TABLE TBL_USER3_1A2B3C4D (f_id int NOT NULL, f_total varchar(20) "
    "NULL, f_clerk varchar(10) NULL)";
const std::string kItems =
    "CREATE TABLE USR_ITEMS3_1A2B3C4D (f_id int NOT NULL, f_name varchar(30) "
    "NULL, f_price varchar(10) NULL)";

class UserTableDdlTest : public ::testing::Test {
 protected:
  Defs items{Def("Name", 30), Def("Price", 10)};
  Defs defs{Def("Total", 20), Def("Clerk", 10), Def("Items", 0, &items)};
};

TEST_F(UserTableDdlTest, WorkedExample) {
  EXPECT_EQ(UserCreateBatch(3, kSerial, 1, defs, 1000), kMain + "\n" + kItems);
  std::string mysql = kMain + "\n" + kItems;
  for (std::size_t at; (at = mysql.find("NOT NULL")) != std::string::npos;)
    mysql.replace(at, 8, "not null");
  EXPECT_EQ(UserCreateBatch(3, kSerial, 4, defs, 1000), mysql);
  // Types without a head of their own take the common one.
  EXPECT_EQ(UserCreateBatch(3, kSerial, 7, defs, 1000), kMain + "\n" + kItems);
  EXPECT_EQ(UserCreateBatch(3, kSerial, 0, defs, 1000), "");
  EXPECT_EQ(UserDropBatch(3, kSerial, 1, defs, 1000),
            "drop table [TBL_USER3_1A2B3C4D]\ndrop table "
            "[USR_ITEMS3_1A2B3C4D]");
  EXPECT_EQ(UserDropBatch(3, kSerial, 2, {}, 1000),
            "drop table [TBL_USER3_1A2B3C4D]");
  EXPECT_EQ(UserTableNameList(3, kSerial, defs, 100),
            "TBL_USER3_1A2B3C4D\nUSR_ITEMS3_1A2B3C4D");
  EXPECT_EQ(UserTableNameList(3, kSerial, defs, 19), "TBL_USER3_1A2B3C4D");
  EXPECT_EQ(UserTableNameList(3, kSerial, defs, 18), "");
  struct Case {
    const char* table;
    std::size_t size;
    const char* want;
  } cases[] = {
      {"USR_ITEMS3_1A2B3C4D", 100, "f_name\nf_price"},
      {"TBL_USER3_1A2B3C4D", 100, "f_total\nf_clerk"},
      {"usr_items3_1a2b3c4d", 100, ""},
      // Room for a line feed is counted before the first column too, and
      // the first column that doesn't fit ends the list.
      {"USR_ITEMS3_1A2B3C4D", 15, "f_name\nf_price"},
      {"USR_ITEMS3_1A2B3C4D", 14, "f_name"},
      {"USR_ITEMS3_1A2B3C4D", 7, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.table) + " " + std::to_string(c.size));
    EXPECT_EQ(UserTableColumnList(3, kSerial, defs, c.table, c.size), c.want);
  }
}

TEST_F(UserTableDdlTest, GroupsWithoutMainColumnsOrChildren) {
  Defs only{defs[2]};
  EXPECT_EQ(UserCreateBatch(3, kSerial, 1, only, 1000), "\n" + kItems);
  EXPECT_EQ(UserDropBatch(3, kSerial, 1, only, 1000).find("drop table [TBL_"),
            0u);
  // Children without names, or none to read: a name and a DROP, no CREATE.
  Defs blank{Def("", 5)};
  Defs list{Def("Blank", 0, &blank), Def("Lost")};
  list[1].dwChildLen = 4;
  EXPECT_EQ(UserCreateBatch(3, kSerial, 1, list, 1000), "");
  EXPECT_EQ(UserTableNameList(3, kSerial, list, 1000),
            "TBL_USER3_1A2B3C4D\nUSR_BLANK3_1A2B3C4D\nUSR_LOST3_1A2B3C4D");
  // Nothing separates the element from the device number.
  Defs a1{Def("A1", 0, &items)}, a{Def("a", 0, &items)};
  EXPECT_EQ(UserTableNameList(2, kSerial, a1, 100).substr(19),
            "USR_A12_1A2B3C4D");
  EXPECT_EQ(UserTableNameList(12, kSerial, a, 100).substr(20),
            "USR_A12_1A2B3C4D");
  // Too small for the main statement, big enough for a shorter group's.
  Defs n{Def("n", 1)};
  defs[2] = Def("I", 0, &n);
  const std::string group =
      "CREATE TABLE USR_I3_1A2B3C4D (f_id int NOT NULL, f_n varchar(1) NULL)";
  EXPECT_EQ(UserCreateBatch(3, kSerial, 1, defs, kMain.size()), "\n" + group);
  EXPECT_EQ(UserCreateBatch(3, kSerial, 1, defs, group.size() + 1), "");
}

}  // namespace
}  // namespace quillmore
