#include "textsql/script_format.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace quillmore {
namespace {

TEST(ScriptFormatTest, ExpandsNamesAndPercentSignsUpToTheLimit) {
  const std::string a1022(1022, 'a');
  // Format and its expansion with the names T and U.
  const std::pair<std::string, std::string> cases[] = {
      {"create table %s (x)", "create table T (x)"},
      // Past the arguments: empty; no other conversion reads anything.
      {"%s-%s-%s 100%% %%s %d %x %", "T-U- 100% %s %d %x %"},
      {std::string(1500, 'a'), a1022 + "a"},  // cut at the limit
      {a1022 + "%%%%", a1022 + "%"},
  };
  for (const auto& [format, want] : cases) {
    SCOPED_TRACE(format.substr(0, 20));
    EXPECT_EQ(ExpandScript(format, {"T", "U"}), want);
  }
  EXPECT_EQ(ExpandScript("x%sy", {std::string(2000, 'n')}),
            "x" + std::string(1022, 'n'));
  EXPECT_EQ(ExpandScript("abcdef", {}, 3), "abc");
  // A script file's text ends at its first zero byte.
  EXPECT_EQ(ScriptText(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(ScriptText("abc"), "abc");
}

}  // namespace
}  // namespace quillmore
