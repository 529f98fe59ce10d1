#include "textsql/script_format.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmore {
namespace {

TEST(ScriptFormatTest, ExpandsNamesAndPercentSignsUpToTheLimit) {
  const std::string a1022(1022, 'a');
  struct Case {
    const char* name;
    std::string format;
    std::string want;
  } cases[] = {
      {"name", "create table %s (x)", "create table T (x)"},
      {"past the arguments: empty", "%s-%s-%s", "T-U-"},
      {"percent", "100%%", "100%"},
      {"percent, then s", "%%s", "%s"},
      {"no other conversion reads", "%d %x %", "%d %x %"},
      {"empty", "", ""},
      {"literal cut", std::string(1500, 'a'), a1022 + "a"},
      {"literal of the limit", a1022 + "a", a1022 + "a"},
      {"percent at the limit", a1022 + "%%%%", a1022 + "%"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ExpandScript(c.format, {"T", "U"}), c.want);
  }
  EXPECT_EQ(ExpandScript("x%sy", {std::string(2000, 'n')}),
            "x" + std::string(1022, 'n'));
  EXPECT_EQ(ExpandScript("abcdef", {}, 3), "abc");
}

TEST(ScriptFormatTest, ScriptEndsAtItsFirstZeroByte) {
  EXPECT_EQ(ScriptText(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(ScriptText("abc"), "abc");
  EXPECT_EQ(ScriptText(std::string(3, '\0')), "");
}

}  // namespace
}  // namespace quillmore
