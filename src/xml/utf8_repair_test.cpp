#include "xml/utf8_repair.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace quillmore {
namespace {

// Each maximal ill-formed part becomes one U+FFFD (written '?' in the
// table, each input followed by its repair): a Latin-1 byte, a lone
// continuation, a truncated sequence (before other text or at the end). In
// overlong forms, surrogates, code points above U+10FFFF and F5 leads no
// byte begins a valid sequence, so each byte is replaced.
TEST(Utf8RepairTest, ReplacesEachMaximalIllFormedPart) {
  const std::string valid = "a\xC3\xA9\xF4\x8F\xBF\xBF";  // up to U+10FFFF
  EXPECT_TRUE(IsValidUtf8(valid));
  EXPECT_EQ(RepairUtf8(valid), valid);
  const char* const cases[] = {
      "caf\xE9!",     "caf?!", "a\x80z",           "a?z",
      "\xE2\x82!",    "?!",    "x\xF0\x9F\x98",    "x?",
      "\xC0\xAF",     "??",    "\xE0\x80\xAF",     "???",
      "\xED\xA0\x80", "???",   "\xF4\x90\x80\x80", "????",
      "\xF5",         "?"};
  for (std::size_t i = 0; i < std::size(cases); i += 2) {
    std::string want;
    for (const char* c = cases[i + 1]; *c != '\0'; ++c)
      want += *c == '?' ? std::string("\xEF\xBF\xBD") : std::string(1, *c);
    EXPECT_FALSE(IsValidUtf8(cases[i])) << cases[i + 1];
    EXPECT_EQ(RepairUtf8(cases[i]), want) << cases[i + 1];
  }
}

}  // namespace
}  // namespace quillmore
