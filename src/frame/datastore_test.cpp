#include "frame/datastore.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/copy_out_check.h"

namespace quillmore {
namespace {

TEST(CopyOutTest, WritesOnlyWhenTheTextFits) {
  const std::string text = "abcde", terminated = text + '\0';
  struct Case {
    std::uint32_t size;
    CopyRule rule;
    std::uint32_t result;
    std::string written;
  } cases[] = {
      {0, CopyRule::kTerminated, 0, ""},
      {5, CopyRule::kTerminated, 0, ""},
      {6, CopyRule::kTerminated, 5, terminated},
      {4, CopyRule::kNoTerminator, 0, ""},
      {5, CopyRule::kNoTerminator, 5, text},
      {6, CopyRule::kSignedSize, 5, terminated},
      {0x80000006u, CopyRule::kSignedSize, 0, ""},
  };
  for (const Case& c : cases) {
    ExpectWrite(
        [&](char* b, std::uint32_t s) { return CopyOut(text, b, s, c.rule); },
        c.size, c.result, c.written);
  }
  EXPECT_EQ(CopyOut(text, nullptr, 100), 0u);
}

}  // namespace
}  // namespace quillmore
