#include "frame/datastore.h"

#include <gtest/gtest.h>

#include <cstring>

#include "quillmore/QuillmoreExt.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

TEST(CopyOutTest, WritesOnlyWhenTheTextFits) {
  const std::string text = "abcde";
  struct Case {
    std::uint32_t size;
    CopyRule rule;
    std::uint32_t result;
  } cases[] = {
      {0, CopyRule::kTerminated, 0},   {5, CopyRule::kTerminated, 0},
      {6, CopyRule::kTerminated, 5},   {4, CopyRule::kNoTerminator, 0},
      {5, CopyRule::kNoTerminator, 5}, {6, CopyRule::kSignedSize, 5},
      {0x80000006u, CopyRule::kSignedSize, 0},
  };
  for (const Case& c : cases) {
    char buf[16];
    std::memset(buf, '#', sizeof buf);
    std::uint32_t n = CopyOut(text, buf, c.size, c.rule);
    SCOPED_TRACE(c.size);
    EXPECT_EQ(n, c.result);
    if (n == 0) {
      EXPECT_EQ(std::string(buf, sizeof buf), std::string(sizeof buf, '#'));
    } else {
      EXPECT_EQ(std::string(buf, 5), text);
      EXPECT_EQ(buf[5], c.rule == CopyRule::kNoTerminator ? '#' : '\0');
      EXPECT_EQ(buf[6], '#');
    }
  }
  EXPECT_EQ(CopyOut(text, nullptr, 100), 0u);
}

TEST(FacadeTest, FreshFacadeAnswersWithoutLoading) {
  TestInstallation inst;
  CQuillmoreExt q;
  EXPECT_EQ(q.GetUseDatabase(), -1);
  char buf[64];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(q.GetDatabaseName(buf, sizeof buf), 0u);
  EXPECT_EQ(buf[0], '#');
  EXPECT_EQ(q.GetTableNameEx(5, buf, sizeof buf), 24u);
  EXPECT_STREQ(buf, "TBL_TEXTDATAEX5_1A2B3C4D");
  EXPECT_EQ(q.LoadData(-1), 1);
  EXPECT_EQ(q.GetDatabaseType(), -1);
}

}  // namespace
}  // namespace quillmore
