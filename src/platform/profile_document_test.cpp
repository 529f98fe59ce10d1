#include "platform/profile_document.h"

#include <gtest/gtest.h>

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
      {"crlf", "[A]\r\nk=v\r\nj=w\r\n", "A", "j", "w"},
      {"lone cr", "[A]\rk=v\rj=w", "A", "j", "w"},
      {"cr cr lf", "[A]\r\r\nk=v\r\r\nj=w\r\r\n", "A", "j", "w"},
      {"bom", "\xEF\xBB\xBF[A]\nk=v\n", "A", "k", "v"},
      {"ctrl-z", "[A]\nk=v\x1A", "A", "k", "v"},
      {"comment never found", "[A]\n;k=c\n", "A", ";k", kMissing},
      {"comment skipped", "[A]\n; k=c\nk=v\n", "A", "k", "v"},
      {"hash is no comment", "[A]\n#k=v\n", "A", "#k", "v"},
      {"section trimmed", "[ \tGENERAL \t]\nk=v\n", "GENERAL", "k", "v"},
      {"key and value trimmed", "[A]\n \tk \t= \t v x \t\n", "A", "k", "v x"},
      {"case", "[general]\nDbType=2\n", "GENERAL", "DBTYPE", "2"},
      {"last bracket", "[A]x] tail\nk=v\n", "A]x", "k", "v"},
      {"not the first bracket", "[A]x] tail\nk=v\n", "A", "k", kMissing},
      {"no bracket is no header", "[A]\n[B\nk=v\n", "A", "k", "v"},
      {"first equals", "[A]\nk=a=b\n", "A", "k", "a=b"},
      {"empty", "[A]\nk=\n", "A", "k", ""},
      {"blank", "[A]\nk=   \n", "A", "k", ""},
      {"no equals", "[A]\nk\n", "A", "k", kMissing},
      {"first key", "[A]\nk=1\nK=2\n", "A", "k", "1"},
      {"first section", "[A]\nk=1\n[B]\n[a]\nk=2\nj=3\n", "A", "k", "1"},
      {"second section unseen", "[A]\nk=1\n[B]\n[a]\nk=2\nj=3\n", "A", "j",
       kMissing},
      {"before any section", "k=v\n[A]\nj=w\n", "A", "k", kMissing},
      {"double quotes", "[A]\nk=\"q v\"\n", "A", "k", "q v"},
      {"single quotes", "[A]\nk='x'\n", "A", "k", "x"},
      {"unbalanced quotes", "[A]\nk=\"x'\n", "A", "k", "\"x'"},
      {"lone quote", "[A]\nk=\"\n", "A", "k", "\""},
      {"note after value", "[A]\nk=1 ; note\n", "A", "k", "1 ; note"},
      {"other section", "[A]\nk=1\n[B]\n", "B", "k", kMissing},
      {"vt, ff and ctrl-z trimmed", "[\x1A A\f]\n\vk\x1A=\f v \x1A\n", "A", "k",
       "v"},
      {"value ends at nul", std::string("[A]\nk=a\0b\n", 10), "A", "k", "a"},
      {"name ends at nul", std::string("[A]\nk\0x=1\n", 10), "A", "k", "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProfileDocument doc(c.text);
    std::optional<std::string_view> got = doc.Find(c.section, c.key);
    ASSERT_EQ(got.has_value(), c.want.has_value());
    if (got) {
      EXPECT_EQ(std::string(*got), *c.want);
    }
  }
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
      {"in place", "; top\n[A]\nk=1\n; c\nj=2\n", "A", "K", "5",
       "; top\n[A]\nk=5\n; c\nj=2\n"},
      {"first occurrence", "[A]\nk=1\nk=2\n", "A", "k", "3", "[A]\nk=3\nk=2\n"},
      {"end of section, blank lines stay", "[A]\nk=1\n\n[B]\nj=2\n", "A", "n",
       "3", "[A]\nk=1\nn=3\n\n[B]\nj=2\n"},
      {"new section, final newline added", "[A]\nk=1", "B", "j", "2",
       "[A]\nk=1\n[B]\nj=2\n"},
      {"unended last line of section", "[A]\nk=1", "A", "j", "2",
       "[A]\nk=1\nj=2\n"},
      {"new file", "", "A", "k", "v", "[A]" + nl + "k=v" + nl},
      {"empty section", "[A]", "A", "k", "v", "[A]" + nl + "k=v" + nl},
      {"same value", "[A]\nk = v\n", "A", "k", "v", "[A]\nk = v\n"},
      {"line break never makes a key", "[A]\nk=1\n", "A", "k", "2\nEVIL=1",
       "[A]\nk=2\n"},
      {"cr never makes a key", "[A]\nk=1\n", "A", "j", "2\rEVIL=1",
       "[A]\nk=1\nj=2\n"},
      {"crlf kept", "[A]\r\nk=1\r\n", "A", "j", "2", "[A]\r\nk=1\r\nj=2\r\n"},
      {"crlf new section", "[A]\r\nk=1\r\n", "B", "j", "2",
       "[A]\r\nk=1\r\n[B]\r\nj=2\r\n"},
      {"lone cr kept", "[A]\rk=1\r", "A", "j", "2", "[A]\rk=1\rj=2\r"},
      {"ctrl-z stays last", "[A]\nk=1\n\x1A", "B", "j", "2",
       "[A]\nk=1\n[B]\nj=2\n\x1A"},
      {"bom kept", "\xEF\xBB\xBF[A]\nk=1\n", "A", "k", "2",
       "\xEF\xBB\xBF[A]\nk=2\n"},
      {"keys before a section", "k=1\n[A]\n", "A", "k", "2", "k=1\n[A]\nk=2\n"},
      {"first of two sections", "[A]\nk=1\n[B]\n[A]\nj=1\n", "A", "j", "2",
       "[A]\nk=1\nj=2\n[B]\n[A]\nj=1\n"},
      {"comment not mistaken for the key", "[A]\n;k=1\n", "A", "k", "2",
       "[A]\n;k=1\nk=2\n"},
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

TEST(ProfileDocumentTest, CopiesAndMovesOwnTheirText) {
  // Short texts live inside the string object: a copy or move must not
  // keep looking at the source's bytes.
  ProfileDocument a("[A]\nk=v\n");
  ProfileDocument b = a;
  ProfileDocument c(a);
  ProfileDocument d(std::move(c));
  a.Set("A", "k", std::string(64, 'z'));
  a = ProfileDocument("[Q]\nq=1\n");
  EXPECT_EQ(b.Find("A", "k"), std::optional<std::string_view>("v"));
  EXPECT_EQ(d.Find("A", "k"), std::optional<std::string_view>("v"));
  b = d;
  d.Set("A", "k", "w");
  EXPECT_EQ(b.Find("A", "k"), std::optional<std::string_view>("v"));
  EXPECT_EQ(d.Find("A", "k"), std::optional<std::string_view>("w"));
}

}  // namespace
}  // namespace quillmore
