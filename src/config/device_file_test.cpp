// The readers over a parsed file; what a file's values read as (sizes,
// narrowing, kinds) is pinned through the facade's tests.
#include "config/device_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace quillmore {
namespace {

TEST(DeviceFileTest, ReadsOnlyWhatTheFileHolds) {
  // Counts 1 to 65536; anything else reads as none.
  for (const char* len : {"-1", "2147483647", "4294967295", "65537", "0"})
    EXPECT_EQ(ReadCount(ProfileDocument("[L]\nLEN=" + std::string(len)), "L"),
              0u);
  EXPECT_EQ(ReadCount(ProfileDocument("[L]\nLEN=65536"), "L"), 65536u);
  // A group's children come from the keys of its section in the writer's
  // form (the first of two equal names); only those named are kept, and
  // none when the section is missing.
  const ProfileDocument f(
      "[USERTABLE]\nCHILDLEN1=4\nCHILDLEN2=255\n[element1]\nelement4=c\n"
      "ELEMENT4=again\nFIELDLEN1=5\nELEMENT04=x\nELEMENT5=y\nFIELDTYPE2=1\n"
      "[S2]\nTYPE=2\n");
  const UserTableList list = ReadUserTables(f, 2);
  ASSERT_EQ(list.ChildCount(0), 4u);
  EXPECT_EQ(list[0].dwChildLen, 3u);
  _tagUSERTABLEINFO kids[4];
  list.Children(0, kids);
  std::string all;
  for (const auto& k : kids)
    all += std::string(k.szElement) + std::to_string(k.byFieldType) + "," +
           std::to_string(k.dwFieldLen) + " ";
  EXPECT_EQ(all, "0,5 1,0 0,0 c0,0 ");
  EXPECT_EQ(list.ChildCount(1), 255u);
  EXPECT_EQ(list[1].pChild, nullptr);
  EXPECT_NE(UserTableList(list)[0].pChild, list[0].pChild);  // its own copy
  // An item without its section reads as zeros.
  const _tagITEMSEARCHINFO s1 = ReadSearchItem(f, 1), zero{};
  EXPECT_EQ(std::memcmp(&s1, &zero, sizeof zero), 0);
  EXPECT_EQ(ReadSearchItem(f, 2).nSplit, -1);
}

}  // namespace
}  // namespace quillmore
