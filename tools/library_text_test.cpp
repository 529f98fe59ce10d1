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

// The library's batches at the largest definitions it accepts: 49-byte
// names, a group of 255 columns, the longest device number and field
// lengths. The widest entry must fit the bound the hosts size their buffers
// by, so a longer statement shape fails here instead of cutting a batch.
TEST(LibraryText, UserTableBatchesAtTheLargestDefinitionsComeWhole) {
  quillmore::TestInstallation inst;
  const int device = 2147483647;
  auto name = [](char c, int i) {  // 49 bytes, told apart by their end
    const std::string n = std::to_string(i);
    return std::string(49 - n.size(), c) + n;
  };
  std::string file =
      "[GENERAL]\nDBTYPE=2\n[XML]\nUSEUSERTABLE=1\n[USERTABLE]\nLEN=4\n";
  for (int i = 1; i <= 3; ++i) {
    file += "ELEMENT" + std::to_string(i) + "=" + name('C', i) + "\nFIELDLEN" +
            std::to_string(i) + "=-2147483648\n";
  }
  file += "ELEMENT4=" + name('G', 4) + "\nCHILDLEN4=255\n[ELEMENT4]\n";
  for (int j = 1; j <= 255; ++j) {
    file += "ELEMENT" + std::to_string(j) + "=" + name('a', j) + "\nFIELDLEN" +
            std::to_string(j) + "=-2147483648\n";
  }
  inst.Write("devdata" + std::to_string(device) + ".ini", file);
  CQuillmoreExt q;
  q.LoadData(device);
  const uint32_t bound = UserTableEntryBound(q, device);
  ASSERT_EQ(bound, 128u + 80 * 255);
  using Get = std::function<uint32_t(char*, uint32_t)>;
  auto fields = [&](size_t table) -> Get {
    return [&, table](char* b, uint32_t n) {
      const std::string names = BatchText(
          [&](char* c, uint32_t m) {
            return q.GetUserTableNames(device, c, m);
          },
          bound);
      const std::string name = table == 0 ? names.substr(0, names.find('\n'))
                                          : names.substr(names.find('\n') + 1);
      return q.GetUserFieldsByTable(device, name.c_str(), b, n);
    };
  };
  const struct {
    const char* what;
    Get get;
    size_t entries;
  } cases[] = {
      {"create",
       [&](char* b, uint32_t n) {
         return q.GetUserCreateQueryEx(device, b, n);
       },
       2},
      {"drop",
       [&](char* b, uint32_t n) { return q.GetUserDropQueryEx(device, b, n); },
       2},
      {"names",
       [&](char* b, uint32_t n) { return q.GetUserTableNames(device, b, n); },
       2},
      {"main columns", fields(0), 3},
      {"group columns", fields(1), 255},
  };
  size_t widest = 0;
  for (const auto& c : cases) {
    const std::string batch = BatchText(c.get, bound);
    size_t entries = 0;
    for (size_t start = 0; start < batch.size(); ++entries) {
      const size_t end = std::min(batch.find('\n', start), batch.size());
      widest = std::max(widest, end - start + 1);
      start = end + 1;
    }
    EXPECT_EQ(entries, c.entries) << c.what;
  }
  // The group's CREATE statement: 255 column clauses of 79 bytes.
  EXPECT_GT(widest, 255u * 79);
  EXPECT_LE(widest, bound);
}

}  // namespace
}  // namespace quillmore_tools
