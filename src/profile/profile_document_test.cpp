#include "profile/profile_document.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace quillmore {
namespace {

constexpr std::nullopt_t kMissing = std::nullopt;

TEST(ProfileDocumentTest, ReadsFilesAsWindowsDoes) {
  struct Case {
    const char* name;
    std::string text;
    const char *section, *key;
    std::optional<std::string> want;
  } cases[] = {
      {"lone cr", "[A]\rk=v\rj=w", "A", "j", "w"},
      {"bom", "\xEF\xBB\xBF[A]\nk=v\n", "A", "k", "v"},
      {"ctrl-z", "[A]\nk=v\x1A", "A", "k", "v"},
      {"comment", "[A]\n;k=c\n", "A", ";k", kMissing},
      {"hash is no comment", "[A]\n#k=v\n", "A", "#k", "v"},
      {"last bracket", "[A]x] tail\nk=v\n", "A]x", "k", "v"},
      {"no bracket is no header", "[A]\n[B\nk=v\n", "A", "k", "v"},
      {"first equals", "[A]\nk=a=b\n", "A", "k", "a=b"},
      {"blank", "[A]\nk=   \n", "A", "k", ""},
      {"no equals", "[A]\nk\n", "A", "k", kMissing},
      {"first key, first section", "[A]\nk=1\nK=2\n[a]\nk=3\n", "A", "k", "1"},
      {"repeated section", "[A]\n[B]\n[a]\nj=3\n", "B", "j", kMissing},
      {"before any section", "k=v\n[A]\nj=w\n", "A", "k", kMissing},
      {"double quotes", "[A]\nk=\"q v\"\n", "A", "k", "q v"},
      {"single quotes", "[A]\nk='x'\n", "A", "k", "x"},
      {"unbalanced quotes", "[A]\nk=\"x'\n", "A", "k", "\"x'"},
      {"lone quote", "[A]\nk=\"\n", "A", "k", "\""},
      {"note after value", "[A]\nk=1 ; note\n", "A", "k", "1 ; note"},
      {"blanks and ctrl-z trimmed", "[\x1A \tA\f]\n \t\vk\x1A=\f\t v x\x1A \n",
       "a", "K", "v x"},
      {"value ends at nul", std::string("[A]\nk=a\0b\n", 10), "A", "k", "a"},
      {"name ends at nul", std::string("[A]\nk\0x=1\n", 10), "A", "k", "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ProfileDocument(c.text).Find(c.section, c.key), c.want);
  }
  // Integers as ParseProfileInteger reads them; empty is missing.
  const ProfileDocument doc("[N]\na=' 0x10'\nb=\n");
  EXPECT_EQ(doc.FindInt("N", "a"), 16);
  EXPECT_EQ(doc.FindInt("N", "b"), kMissing);
  EXPECT_EQ(doc.FindInt("N", "zz"), kMissing);
  EXPECT_EQ(ProfileDocument("k=1\n[A]\n[ b ]\n[a]\n").SectionNames(),
            (std::vector<std::string_view>{"A", "b"}));
}

// Each case's writes, in order, give what writing and parsing again after
// each one would.
TEST(ProfileDocumentTest, WritesOnlyTheKeysLine) {
  // The line end of a file that has none yet.
#ifdef _WIN32
  const std::string nl = "\r\n";
#else
  const std::string nl = "\n";
#endif
  struct Case {
    const char* name;
    std::string before;
    std::vector<std::array<const char*, 3>> sets;  // section, key, value
    std::string after;  // == before: no Set reports a change
  } cases[] = {
      {"in place",
       "[A]\nk=1\n;c\nj=2\n",
       {{"A", "K", "5"}},
       "[A]\nk=5\n;c\nj=2\n"},
      {"end of section",
       "[A]\nk=1\n\n[B]\n",
       {{"A", "n", "3"}},
       "[A]\nk=1\nn=3\n\n[B]\n"},
      {"new file", "", {{"A", "k", "v"}}, "[A]" + nl + "k=v" + nl},
      {"empty section", "[A]", {{"A", "k", "v"}}, "[A]" + nl + "k=v" + nl},
      {"same value", "[A]\nk = v\n", {{"A", "k", "v"}}, "[A]\nk = v\n"},
      {"lf cuts", "[A]\nk=1\n", {{"A", "k", "2\nEVIL=1"}}, "[A]\nk=2\n"},
      {"cr cuts", "[A]\nk=1\n", {{"A", "j", "2\rEVIL=1"}}, "[A]\nk=1\nj=2\n"},
      {"crlf", "[A]\r\nk=1\r\n", {{"A", "j", "2"}}, "[A]\r\nk=1\r\nj=2\r\n"},
      {"lone cr", "[A]\rk=1\r", {{"A", "j", "2"}}, "[A]\rk=1\rj=2\r"},
      {"cr cr lf gets crlf",
       "[A]\r\r\n",
       {{"A", "j", "2"}},
       "[A]\r\r\nj=2\r\n"},
      {"ctrl-z last", "[A]\n\x1A", {{"B", "j", "2"}}, "[A]\n[B]\nj=2\n\x1A"},
      {"keys before", "k=1\n[A]\n", {{"A", "k", "2"}}, "k=1\n[A]\nk=2\n"},
      {"first section",
       "[A]\n[B]\n[A]\n",
       {{"A", "j", "2"}},
       "[A]\nj=2\n[B]\n[A]\n"},
      {"sections and keys twice",
       "[A]\nk=1\n\n[B]\nx=1",
       {{"A", "j", "2"},
        {"C", "m", "1"},
        {"a", "l", "3"},
        {"C", "n", "2"},
        {"B", "y", "2"},
        {"A", "J", "4"},
        {"C", "m", "5"}},
       "[A]\nk=1\nj=4\nl=3\n\n[B]\nx=1\ny=2\n[C]\nm=5\nn=2\n"},
      // A lone CR joins the LF of an empty line after it into one line end.
      {"cr before empty lines",
       "[A]\rk=1\n\n\r\n[B]\r",
       {{"A", "j", "2"}, {"A", "l", "3"}, {"A", "m", "4"}},
       "[A]\rk=1\nj=2\r\nl=3\r\r\nm=4\r[B]\r"},
      // A Ctrl-Z written last reads as the end-of-file mark.
      {"ctrl-z written last",
       "[A]\nk=1",
       {{"A", "k", "2\x1A"}, {"A", "k", "2"}, {"A", "j", "3"}},
       "[A]\nk=2\nj=3\n\x1A"},
      // Every byte put back: changed, yet the text is as it was.
      {"written again, longer and shorter",
       "[A]\nk=1\nj=2\n",
       {{"A", "k", "22"},
        {"A", "j", "5"},
        {"A", "k", "4444"},
        {"A", "k", "1"},
        {"A", "j", "2"}},
       "[A]\nk=1\nj=2\n"},
      {"a key after an empty section",
       "[A]\n[B]\nk=2\n",
       {{"A", "k", "4"}},
       "[A]\nk=4\n[B]\nk=2\n"},
      // Names that can't be written, or would read back as something else.
      {"empty key", "[A]\n", {{"A", " ", "v"}}, "[A]\n"},
      {"key with equals", "[A]\n", {{"A", "a=b", "v"}}, "[A]\n"},
      {"key read as comment", "[A]\n", {{"A", ";x", "v"}}, "[A]\n"},
      {"key read as header", "[A]\n", {{"A", "[x", "v"}}, "[A]\n"},
      {"section with bracket", "[A]\n", {{"a]b", "k", "v"}}, "[A]\n"},
      {"section with line break", "[A]\n", {{"a\nb", "k", "v"}}, "[A]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProfileDocument doc(c.before);
    for (const auto& [section, key, value] : c.sets)
      doc.Set(section, key, value);
    EXPECT_EQ(doc.changed(), c.sets.size() > 1 || c.after != c.before);
    const ProfileDocument copy = doc, reread(c.after);
    EXPECT_EQ(copy.Text(), c.after);
    for (const auto& [section, key, value] : c.sets)
      EXPECT_EQ(doc.Find(section, key), reread.Find(section, key)) << key;
  }
}

// UTF-16 of ASCII text, units in either byte order, byte-order mark first.
std::string Utf16(std::string_view ascii, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii)
    out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
  return out;
}

TEST(ProfileDocumentTest, EditsUtf16FilesInTheirOwnEncoding) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "big endian" : "little endian");
    const std::string e_acute = be ? std::string("\0\xE9", 2) : "\xE9";
    const std::string lone = be ? "\xD8\x01" : "\x01\xD8";  // a lone surrogate
    const std::string before = Utf16("[A]\r\nk=caf", be) + e_acute +
                               (be ? std::string() : std::string(1, '\0')) +
                               Utf16("\r\nx=", be).substr(2) + lone +
                               Utf16("\r\n", be).substr(2) + "Z";
    ProfileDocument doc(before);
    EXPECT_EQ(doc.encoding(),
              be ? ProfileEncoding::kUtf16Be : ProfileEncoding::kUtf16Le);
    EXPECT_EQ(doc.Find("A", "k"), "caf\xC3\xA9");
    ASSERT_TRUE(doc.Set("A", "j", "\xE2\x82\xAC"));  // U+20AC
    const std::string euro = be ? "\x20\xAC" : "\xAC\x20";
    // The surrogate and the odd last byte stay; only the new line is added.
    EXPECT_EQ(doc.Text(), before.substr(0, before.size() - 1) +
                              Utf16("j=", be).substr(2) + euro +
                              Utf16("\r\n", be).substr(2) + "Z");
    EXPECT_EQ(doc.source(), before);
  }
}

}  // namespace
}  // namespace quillmore
