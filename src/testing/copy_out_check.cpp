#include "testing/copy_out_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace quillmore {

void ExpectWrite(const FillFn& fill, std::uint32_t size, std::uint32_t result,
                 const std::string& written) {
  SCOPED_TRACE("size " + std::to_string(size));
  // Sizes far beyond any text are only ever refused; don't allocate them.
  const std::size_t bytes = std::min<std::size_t>(size, 1 << 16) + 16;
  std::vector<char> buf(std::max(bytes, written.size()), '#');
  EXPECT_EQ(fill(buf.data(), size), result);
  std::string want = written;
  want.resize(buf.size(), '#');
  EXPECT_EQ(std::string(buf.begin(), buf.end()), want);
}

void ExpectCopyOut(const FillFn& fill, std::uint32_t size,
                   const std::string& want) {
  if (want.empty()) return ExpectWrite(fill, size, 0, "");
  ExpectWrite(fill, size, static_cast<std::uint32_t>(want.size()), want + '\0');
}

std::uint32_t ExpectWithinSize(const FillFn& fill, std::uint32_t size) {
  SCOPED_TRACE("size " + std::to_string(size));
  std::vector<char> buf(std::size_t{size} + 16, '#');
  const std::uint32_t n = fill(buf.data(), size);
  EXPECT_TRUE(n == 0 || (n < size && buf[n] == '\0')) << "result " << n;
  EXPECT_EQ(std::string(buf.begin() + size, buf.end()), std::string(16, '#'));
  return n;
}

void ExpectCopyOutAtEdges(const FillFn& fill, const std::string& want) {
  const auto len = static_cast<std::uint32_t>(want.size());
  for (std::uint32_t size : {0u, 1u, len - 1, len})
    ExpectCopyOut(fill, size, "");
  ExpectCopyOut(fill, len + 1, want);
}

}  // namespace quillmore
