#include "textsql/script_format.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmore {
namespace {

TEST(ScriptFormatTest, ExpandsNamesAndPercentSigns) {
  struct Case {
    const char* format;
    std::string want;
  } cases[] = {
      {"create table %s (x)", "create table T (x)"},
      {"%s-%s-%s", "T-U-"},  // past the arguments: empty
      {"100%%", "100%"},
      {"%%s", "%s"},
      {"%d %x %", "%d %x %"},  // no other conversion reads anything
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(ExpandScript(c.format, {"T", "U"}), c.want);
  }
}

TEST(ScriptFormatTest, CutsAtTheLimit) {
  const std::string long_name(2000, 'n');
  struct Case {
    const char* name;
    std::string format;
    std::string want;
  } cases[] = {
      {"literal", std::string(1500, 'a'), std::string(1023, 'a')},
      {"literal of the limit", std::string(1023, 'a'), std::string(1023, 'a')},
      {"argument", "x%sy", "x" + std::string(1022, 'n')},
      {"percent at the limit", std::string(1022, 'a') + "%%%%",
       std::string(1022, 'a') + "%"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ExpandScript(c.format, {long_name}), c.want);
  }
  EXPECT_EQ(ExpandScript("abcdef", {}, 3), "abc");
}

TEST(ScriptFormatTest, ScriptEndsAtItsFirstZeroByte) {
  EXPECT_EQ(ScriptText(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(ScriptText("abc"), "abc");
  EXPECT_EQ(ScriptText(std::string(3, '\0')), "");
}

}  // namespace
}  // namespace quillmore
