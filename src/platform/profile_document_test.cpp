#include "platform/profile_document.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillmore {
namespace {

constexpr std::nullopt_t kMissing = std::nullopt;

TEST(ProfileDocumentTest, ReadsFilesAsWindowsDoes) {
  struct Case {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    std::optional<std::string> want;
  } cases[] = {
      {"lone cr", "[A]\rk=v\rj=w", "A", "j", "w"},
      {"bom", "\xEF\xBB\xBF[A]\nk=v\n", "A", "k", "v"},
      {"ctrl-z", "[A]\nk=v\x1A", "A", "k", "v"},
      {"comment", "[A]\n;k=c\n", "A", ";k", kMissing},
      {"hash is no comment", "[A]\n#k=v\n", "A", "#k", "v"},
      {"key and value trimmed", "[A]\n \tk \t= \t v x \t\n", "A", "k", "v x"},
      {"trimmed, any case", "[ \tgeneral \t]\nDbType=2\n", "GENERAL", "DBTYPE",
       "2"},
      {"last bracket", "[A]x] tail\nk=v\n", "A]x", "k", "v"},
      {"no bracket is no header", "[A]\n[B\nk=v\n", "A", "k", "v"},
      {"first equals", "[A]\nk=a=b\n", "A", "k", "a=b"},
      {"blank", "[A]\nk=   \n", "A", "k", ""},
      {"no equals", "[A]\nk\n", "A", "k", kMissing},
      {"first key, first section", "[A]\nk=1\nK=2\n[a]\nk=3\n", "A", "k", "1"},
      {"before any section", "k=v\n[A]\nj=w\n", "A", "k", kMissing},
      {"double quotes", "[A]\nk=\"q v\"\n", "A", "k", "q v"},
      {"single quotes", "[A]\nk='x'\n", "A", "k", "x"},
      {"unbalanced quotes", "[A]\nk=\"x'\n", "A", "k", "\"x'"},
      {"lone quote", "[A]\nk=\"\n", "A", "k", "\""},
      {"note after value", "[A]\nk=1 ; note\n", "A", "k", "1 ; note"},
      {"vt, ff and ctrl-z trimmed", "[\x1A A\f]\n\vk\x1A=\f v \x1A\n", "A", "k",
       "v"},
      {"value ends at nul", std::string("[A]\nk=a\0b\n", 10), "A", "k", "a"},
      {"name ends at nul", std::string("[A]\nk\0x=1\n", 10), "A", "k", "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ProfileDocument(c.text).Find(c.section, c.key), c.want);
  }
  // Integers: leading sign and digits, wrapping modulo 2^32; keys a to l.
  const ProfileDocument doc(
      "[N]\na=12abc\nb= 7\nc=+5\nd=-3\ne=4294967297\nf=2147483648\ng=abc\n"
      "h=\ni='-4'\nj=- 5\nk=\" 8\"\nl=-2147483649\n");
  const std::optional<std::int32_t> ints[] = {
      12, 7, 5, -3, 1, INT32_MIN, 0, kMissing, -4, 0, 8, INT32_MAX};
  for (char key = 'a'; key <= 'l'; ++key) {
    EXPECT_EQ(doc.FindInt("N", std::string(1, key)), ints[key - 'a']) << key;
  }
  EXPECT_EQ(doc.FindInt("N", "zz"), kMissing);
}

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
    const char* section;
    const char* key;
    std::string value;
    std::string after;  // == before: Set reports no change
  } cases[] = {
      {"in place", "[A]\nk=1\n;c\nj=2\n", "A", "K", "5", "[A]\nk=5\n;c\nj=2\n"},
      {"first of two", "[A]\nk=1\nk=2\n", "A", "k", "3", "[A]\nk=3\nk=2\n"},
      {"end of section", "[A]\nk=1\n\n[B]\n", "A", "n", "3",
       "[A]\nk=1\nn=3\n\n[B]\n"},
      {"new section", "[A]\nk=1", "B", "j", "2", "[A]\nk=1\n[B]\nj=2\n"},
      {"unended line", "[A]\nk=1", "A", "j", "2", "[A]\nk=1\nj=2\n"},
      {"new file", "", "A", "k", "v", "[A]" + nl + "k=v" + nl},
      {"empty section", "[A]", "A", "k", "v", "[A]" + nl + "k=v" + nl},
      {"same value", "[A]\nk = v\n", "A", "k", "v", "[A]\nk = v\n"},
      {"lf cuts", "[A]\nk=1\n", "A", "k", "2\nEVIL=1", "[A]\nk=2\n"},
      {"cr cuts", "[A]\nk=1\n", "A", "j", "2\rEVIL=1", "[A]\nk=1\nj=2\n"},
      {"crlf", "[A]\r\nk=1\r\n", "A", "j", "2", "[A]\r\nk=1\r\nj=2\r\n"},
      {"lone cr", "[A]\rk=1\r", "A", "j", "2", "[A]\rk=1\rj=2\r"},
      {"cr cr lf gets crlf", "[A]\r\r\n", "A", "j", "2", "[A]\r\r\nj=2\r\n"},
      {"ctrl-z last", "[A]\n\x1A", "B", "j", "2", "[A]\n[B]\nj=2\n\x1A"},
      {"keys before", "k=1\n[A]\n", "A", "k", "2", "k=1\n[A]\nk=2\n"},
      {"first section", "[A]\n[B]\n[A]\n", "A", "j", "2",
       "[A]\nj=2\n[B]\n[A]\n"},
      // Names that can't be written, or would read back as something else.
      {"empty key", "[A]\n", "A", " ", "v", "[A]\n"},
      {"key with equals", "[A]\n", "A", "a=b", "v", "[A]\n"},
      {"key read as comment", "[A]\n", "A", ";x", "v", "[A]\n"},
      {"key read as header", "[A]\n", "A", "[x", "v", "[A]\n"},
      {"section with bracket", "[A]\n", "a]b", "k", "v", "[A]\n"},
      {"section with line break", "[A]\n", "a\nb", "k", "v", "[A]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProfileDocument doc(c.before);
    EXPECT_EQ(doc.Set(c.section, c.key, c.value), c.after != c.before);
    EXPECT_EQ(doc.text(), c.after);
    EXPECT_FALSE(doc.Find(c.section, "EVIL").has_value());
  }
  // Copies and moves own their text (a short one lives inside the string).
  ProfileDocument a("[A]\nk=v\n"), b(a), c(std::move(a));
  a = ProfileDocument("[Q]\nk=1\n");
  b = c;
  c.Set("A", "k", "w");
  EXPECT_EQ(b.Find("A", "k"), "v");
  EXPECT_EQ(c.Find("A", "k"), "w");
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
    ProfileDocument doc(Utf16("[A]\r\nk=caf", be) + e_acute +
                        (be ? std::string() : std::string(1, '\0')) +
                        Utf16("\r\nx=", be).substr(2) + lone +
                        Utf16("\r\n", be).substr(2) + "Z");
    EXPECT_EQ(doc.encoding(),
              be ? ProfileEncoding::kUtf16Be : ProfileEncoding::kUtf16Le);
    EXPECT_EQ(doc.Find("A", "k"),
              std::optional<std::string_view>("caf\xC3\xA9"));
    const std::string before = doc.text();
    ASSERT_TRUE(doc.Set("A", "j", "\xE2\x82\xAC"));  // U+20AC
    const std::string euro = be ? "\x20\xAC" : "\xAC\x20";
    // The surrogate and the odd last byte stay; only the new line is added.
    EXPECT_EQ(doc.text(), before.substr(0, before.size() - 1) +
                              Utf16("j=", be).substr(2) + euro +
                              Utf16("\r\n", be).substr(2) + "Z");
  }
}

TEST(ProfileDocumentTest, ListsSectionsAndKeysInFileOrder) {
  ProfileDocument doc("k0=1\n[A]\nk=1\n;c=2\nnoeq\nK=3\nj=\n[ b ]\n[a]\nz=1\n");
  using Names = std::vector<std::string_view>;
  EXPECT_EQ(doc.SectionNames(), (Names{"A", "b", "a"}));
  EXPECT_EQ(doc.KeyNames("a"), (Names{"k", "K", "j"}));
  EXPECT_EQ(doc.KeyNames("b"), Names{});
  EXPECT_EQ(doc.KeyNames("none"), Names{});
}

}  // namespace
}  // namespace quillmore
