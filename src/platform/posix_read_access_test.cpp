#include "platform/posix_read_access.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "quillmore/QuillmoreExt.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

_tagSEARCHPARAM g_static_param = {-1, {}, 0, {}, 0};

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
  // Pages: readable, unmapped, readable, PROT_NONE; a record at the end of
  // each readable one. On the stack, in static storage, at a page's end
  // (a null array is no parameters); these first calls also set up what
  // the test keeps, so nothing is mapped into the hole made after them.
  const std::size_t page = ::sysconf(_SC_PAGESIZE), n = sizeof local;
  auto* m = static_cast<char*>(::mmap(nullptr, 4 * page, PROT_READ | PROT_WRITE,
                                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  char *a = m + page - n, *b = m + 3 * page - n;
  *reinterpret_cast<int*>(a) = *reinterpret_cast<int*>(b) = -1;
  void* const readable[] = {&local, &g_static_param, a, b, nullptr};
  for (void* p : readable) EXPECT_EQ(reads(p, 1), 1);
  ::munmap(m + page, page);
  ::mprotect(m + 3 * page, page, PROT_NONE);
  // Running off each: one byte or a whole record into the page after, and
  // UINT32_MAX records off the stack's top and the program's data.
  for (char* p : {a + 1, b + 1, a + n, b + n}) EXPECT_EQ(reads(p, 1), 0);
  EXPECT_EQ(reads(&local, UINT32_MAX) + reads(&g_static_param, UINT32_MAX), 0);
  // Readable before, protected or unmapped since.
  ::mprotect(m + 2 * page, page, PROT_NONE);
  ::munmap(m, page);
  EXPECT_EQ(reads(a, 1) + reads(b, 1), 0);
  ::munmap(m + 2 * page, 2 * page);
}

}  // namespace
}  // namespace quillmore
