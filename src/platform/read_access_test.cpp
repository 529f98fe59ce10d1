#include "platform/read_access.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "quillmore/QuillmoreExt.h"
#include "testing/pages.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

_tagSEARCHPARAM g_static_param = {-1, {}, 0, {}, 0};

using namespace testing;  // the page helpers

// Through the facade: free-text parameters are not evaluated, so
// IsValidSearchRecord gives 1 exactly when it can read them.
TEST(ReadAccessTest, RefusesWhatCantBeReadNow) {
  TestInstallation inst;
  CQuillmoreExt q;
  _tagSEARCHPARAM local = g_static_param;
  ASSERT_EQ(q.LoadData(1), 1);
  auto reads = [&](void* p, std::uint32_t k) {
    return q.IsValidSearchRecord("x", static_cast<_tagSEARCHPARAM*>(p), k, 0);
  };
  // Pages: readable, unmapped, readable, no access; a record at the end of
  // each readable one. On the stack, in static storage, at a page's end
  // (a null array is no parameters); these first calls also set up what
  // the test keeps, so nothing is mapped into the hole made after them.
  const std::size_t page = testing::PageSize(), n = sizeof local;
  char* m = MapPages(4 * page);
  ASSERT_NE(m, nullptr);
  char *a = m + page - n, *b = m + 3 * page - n;
  *reinterpret_cast<int*>(a) = *reinterpret_cast<int*>(b) = -1;
  void* const readable[] = {&local, &g_static_param, a, b, nullptr};
  for (void* p : readable) EXPECT_EQ(reads(p, 1), 1);
  Unmap(m + page, page);
  NoAccess(m + 3 * page, page);
  // Running off each: one byte or a whole record into the page after, and
  // UINT32_MAX records off the stack's top and the program's data.
  for (char* p : {a + 1, b + 1, a + n, b + n}) EXPECT_EQ(reads(p, 1), 0);
  EXPECT_EQ(reads(&local, UINT32_MAX) + reads(&g_static_param, UINT32_MAX), 0);
  // Readable before, protected or unmapped since.
  NoAccess(m + 2 * page, page);
  Unmap(m, page);
  EXPECT_EQ(reads(a, 1) + reads(b, 1), 0);
  Release(m, 4 * page);
  char* r = MapPages(page);  // readable, then released as a whole
  *reinterpret_cast<int*>(r) = -1;
  EXPECT_EQ(reads(r, 1), 1);
  Release(r, page);
  EXPECT_EQ(reads(r, 1), 0);
#ifdef _WIN32
  // A guard page is refused without being touched: it stays armed.
  char* g = MapPages(page);
  DWORD was;
  ASSERT_TRUE(::VirtualProtect(g, page, PAGE_READWRITE | PAGE_GUARD, &was));
  EXPECT_EQ(reads(g, 1), 0);
  MEMORY_BASIC_INFORMATION info;
  ASSERT_NE(::VirtualQuery(g, &info, sizeof info), 0u);
  EXPECT_NE(info.Protect & PAGE_GUARD, 0u);
  Release(g, page);
#endif
}

// Directly, over many pages: more than one batch of probes holds.
TEST(ReadAccessTest, RangesWithAHole) {
  const std::size_t page = testing::PageSize(), pages = 2000;
  char* mem = MapPages(pages * page);
  ASSERT_NE(mem, nullptr);
  NoAccess(mem + page, page);  // a hole at the second page
  EXPECT_FALSE(IsReadableMemory(nullptr, 1));
  EXPECT_TRUE(IsReadableMemory(mem + page, 0));
  EXPECT_TRUE(IsReadableMemory(mem + page - 1, 1));
  EXPECT_FALSE(IsReadableMemory(mem + page - 1, 2));
  EXPECT_FALSE(IsReadableMemory(mem, 3 * page));
  EXPECT_TRUE(IsReadableMemory(mem + 2 * page + 1, (pages - 2) * page - 1));
  EXPECT_FALSE(IsReadableMemory(mem, SIZE_MAX));  // wraps around
  Release(mem, pages * page);
}

}  // namespace
}  // namespace quillmore
