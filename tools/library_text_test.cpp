#include "library_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "quillmore/QuillmoreExt.h"
#include "testing/test_installation.h"

namespace quillmore_tools {
namespace {

// A batch getter as the library's are: an entry that doesn't fit is left
// out and the next one tried; nothing fits, nothing written.
struct FakeBatch {
  std::vector<std::string> entries;
  int calls = 0;
  uint32_t operator()(char* buf, uint32_t size) {
    ++calls;
    std::string out;
    for (const std::string& e : entries) {
      if (out.size() + (out.empty() ? 0 : 1) + e.size() < size)
        out += (out.empty() ? "" : "\n") + e;
    }
    std::copy(out.begin(), out.end(), buf);
    buf[out.size()] = '\0';
    return static_cast<uint32_t>(out.size());
  }
};

TEST(LibraryText, BatchGrowsUntilNoEntryCanBeMissing) {
  const std::string big(5000, 'A'), small(90, 'b'), huge(70000, 'C');
  struct Case {
    const char* name;
    std::vector<std::string> entries;
    uint32_t bound;
    int calls;
  } cases[] = {
      {"first entry alone beyond the start size", {big, small, small}, 5100, 2},
      {"entries that fit at once", {small, small}, 128, 1},
      {"an empty batch", {}, 128, 1},
      {"a later entry beyond three growths", {small, huge}, 70100, 4},
      {"room for the result but not one more entry",
       {std::string(3900, 'x')},
       200,
       2},
  };
  for (Case& c : cases) {
    FakeBatch get{c.entries};
    std::string want;
    for (const std::string& e : c.entries)
      want += (want.empty() ? "" : "\n") + e;
    EXPECT_EQ(BatchText(std::ref(get), c.bound), want) << c.name;
    EXPECT_EQ(get.calls, c.calls) << c.name;
  }
  // Incomplete at the limit: nothing rather than a batch with holes.
  FakeBatch get{{huge}};
  EXPECT_EQ(BatchText(std::ref(get), 70100, 65536), "");
}

TEST(LibraryText, RecordGrowsWhileNothingComesAndStopsAtItsLimit) {
  int calls = 0;
  const std::string text(20000, 'q');
  auto whole = [&](char* buf, uint32_t size) -> uint32_t {
    ++calls;
    if (size <= text.size()) return 0;
    text.copy(buf, text.size());
    buf[text.size()] = '\0';
    return static_cast<uint32_t>(text.size());
  };
  EXPECT_EQ(RecordText(whole, 1 << 20), text);
  EXPECT_EQ(calls, 3);  // 4 KiB, 16 KiB, 64 KiB
  calls = 0;
  EXPECT_EQ(RecordText(whole, 20000), "");  // the limit is tried last
  EXPECT_EQ(calls, 3);
  // An empty field costs calls up to the default limit only.
  calls = 0;
  EXPECT_EQ(RecordText([&](char*, uint32_t) { return ++calls, 0u; }), "");
  EXPECT_EQ(calls, 3);
  // A getter that may fill the buffer exactly (no terminator).
  EXPECT_EQ(RecordText([](char* b,
                          uint32_t n) { return b[0] = 'z', n == 8 ? 8u : 0u; },
                       8, 8),
            "z" + std::string(7, '\0'));
}

// The library's own batch, whose first CREATE statement is larger than the
// starting size: every group table's CREATE is there.
TEST(LibraryText, UserTableBatchesOfTheLibraryComeWhole) {
  quillmore::TestInstallation inst;
  std::string file =
      "[GENERAL]\nDBTYPE=2\n[XML]\nUSEUSERTABLE=1\n[USERTABLE]\nLEN=63\n";
  for (int i = 1; i <= 60; ++i) {
    file += "ELEMENT" + std::to_string(i) + "=Column" + std::to_string(i) +
            std::string(40, 'x') + "\nFIELDLEN" + std::to_string(i) + "=20\n";
  }
  for (int i = 61; i <= 63; ++i) {
    file += "ELEMENT" + std::to_string(i) + "=G" + std::to_string(i) +
            "\nCHILDLEN" + std::to_string(i) + "=1\n";
  }
  for (int i = 61; i <= 63; ++i)
    file += "[ELEMENT" + std::to_string(i) + "]\nELEMENT1=a\nFIELDLEN1=5\n";
  inst.Write("devdata2.ini", file);
  CQuillmoreExt q;
  q.LoadData(2);
  const uint32_t bound = UserTableEntryBound(q, 2);
  EXPECT_EQ(bound, 128u + 80 * 63);
  const std::string create = BatchText(
      [&](char* b, uint32_t n) { return q.GetUserCreateQueryEx(2, b, n); },
      bound);
  ASSERT_GT(create.find('\n'), kStartSize);
  EXPECT_EQ(std::count(create.begin(), create.end(), '\n'), 3);
  EXPECT_NE(create.find("CREATE TABLE USR_G632_1A2B3C4D"), std::string::npos);
  const std::string names = BatchText(
      [&](char* b, uint32_t n) { return q.GetUserTableNames(2, b, n); }, bound);
  EXPECT_EQ(std::count(names.begin(), names.end(), '\n'), 3);
}

}  // namespace
}  // namespace quillmore_tools
