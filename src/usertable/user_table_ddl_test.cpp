#include "usertable/user_table_ddl.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "testing/user_table_def.h"

namespace quillmore {
namespace {

constexpr std::uint32_t kSerial = 0x1A2B3C4D;

TEST(UserTableDdlTest, StatementsNamesAndColumnsFitTheSize) {
  Defs items{Def("Price", 10), Def("Name", 3)};
  Defs defs{Def("Total", 20), Def("Clerk", 10), Def("Item", 0, &items)};
  const std::string main =
      "CREATE TABLE TBL_USER3_1A2B3C4D (f_id int NOT NULL, f_total varchar(20) "
      "NULL, f_clerk varchar(10) NULL)";
  const std::string group =
      "CREATE TABLE USR_ITEM3_1A2B3C4D (f_id int NOT NULL, f_price varchar(10) "
      "NULL, f_name varchar(3) NULL)";
  std::string mysql = main + "\n" + group;
  for (std::size_t at; (at = mysql.find("NOT NULL")) != std::string::npos;)
    mysql.replace(at, 8, "not null");
  // Types without a head of their own take the common one. A batch leaves
  // out each statement that doesn't fit, the main one too (the batch then
  // begins with a line feed).
  const std::tuple<int, std::size_t, std::string> batches[] = {
      {3, 1000, main + "\n" + group},
      {7, 1000, main + "\n" + group},
      {4, 1000, mysql},
      {0, 1000, ""},
      {3, main.size(), "\n" + group},
      {3, main.size() + 1 + group.size(), main}};
  for (const auto& [type, size, want] : batches)
    EXPECT_EQ(UserCreateBatch(3, kSerial, type, defs, size), want) << size;
  EXPECT_EQ(UserTableNameList(3, kSerial, defs, 100),
            "TBL_USER3_1A2B3C4D\nUSR_ITEM3_1A2B3C4D");
  EXPECT_EQ(UserTableNameList(3, kSerial, defs, 19), "TBL_USER3_1A2B3C4D");
  EXPECT_EQ(UserTableNameList(3, kSerial, defs, 18), "");
  // Room for a line feed is counted before the first column too, and the
  // first column that doesn't fit ends the list.
  const std::tuple<const char*, std::size_t, const char*> columns[] = {
      {"TBL_USER3_1A2B3C4D", 100, "f_total\nf_clerk"},
      {"usr_item3_1a2b3c4d", 100, ""},
      {"USR_ITEM3_1A2B3C4D", 15, "f_price\nf_name"},
      {"USR_ITEM3_1A2B3C4D", 14, "f_price"},
      {"USR_ITEM3_1A2B3C4D", 8, ""}};
  for (const auto& [table, size, want] : columns) {
    EXPECT_EQ(UserTableColumnList(3, kSerial, defs, table, size), want)
        << table << " " << size;
  }
}

// Children without names, or none to read: a name and a DROP, no CREATE.
// Names are upper-cased, nothing between the element and the device.
TEST(UserTableDdlTest, GroupsWithoutColumns) {
  Defs blank{Def("", 5)};
  Defs list{Def("blank1", 0, &blank), Def("Lost")};
  list[1].dwChildLen = 4;
  EXPECT_EQ(UserCreateBatch(12, kSerial, 1, list, 1000), "");
  EXPECT_EQ(UserDropBatch(12, kSerial, 1, list, 1000),
            "drop table [TBL_USER12_1A2B3C4D]\ndrop table "
            "[USR_BLANK112_1A2B3C4D]\ndrop table [USR_LOST12_1A2B3C4D]");
  EXPECT_EQ(UserTableNameList(12, kSerial, list, 1000),
            "TBL_USER12_1A2B3C4D\nUSR_BLANK112_1A2B3C4D\nUSR_LOST12_1A2B3C4D");
}

}  // namespace
}  // namespace quillmore
