#include "xml/utf8_repair.h"

#include <gtest/gtest.h>

namespace quillmore {
namespace {

TEST(Utf8RepairTest, ReplacesEachMaximalIllFormedPart) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  } cases[] = {
      {"ascii", "abc", "abc"},
      {"two-byte", "\xC3\xA9", "\xC3\xA9"},
      {"four-byte max", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
      {"latin-1 byte", "caf\xE9!", "caf" + r + "!"},
      {"lone continuation", "a\x80z", "a" + r + "z"},
      {"overlong C0", "\xC0\xAF", r + r},
      {"overlong E0", "\xE0\x80\xAF", r + r + r},
      {"surrogate", "\xED\xA0\x80", r + r + r},
      {"above U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
      {"F5 lead", "\xF5", r},
      {"truncated three-byte", "\xE2\x82", r},
      {"truncated then ascii",
       "\xE2\x82"
       "A",
       r + "A"},
      {"truncated four-byte at end", "x\xF0\x9F\x98", "x" + r},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RepairUtf8(c.in), c.out);
    EXPECT_EQ(IsValidUtf8(c.in), c.in == c.out);
  }
}

}  // namespace
}  // namespace quillmore
