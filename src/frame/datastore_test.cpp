#include "frame/datastore.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/copy_out_check.h"

namespace quillmore {
namespace {

TEST(CopyOutTest, WritesOnlyWhenTheTextFits) {
  const std::string text = "abcde";
  auto copy = [&](CopyRule rule) -> FillFn {
    return [&, rule](char* b, std::uint32_t s) {
      return CopyOut(text, b, s, rule);
    };
  };
  ExpectCopyOut(copy(CopyRule::kTerminated), 0, "");
  ExpectCopyOut(copy(CopyRule::kTerminated), 5, "");
  ExpectCopyOut(copy(CopyRule::kTerminated), 6, text);
  ExpectCopyOut(copy(CopyRule::kNoTerminator), 4, "");
  ExpectWrite(copy(CopyRule::kNoTerminator), 5, 5, text);
  ExpectCopyOut(copy(CopyRule::kSignedSize), 6, text);
  // A size that is negative as a signed number.
  ExpectCopyOut(copy(CopyRule::kSignedSize), 0x80000006u, "");
  EXPECT_EQ(CopyOut(text, nullptr, 100), 0u);
}

}  // namespace
}  // namespace quillmore
