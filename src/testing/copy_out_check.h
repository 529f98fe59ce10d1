// Sentinel checks for text handed into caller buffers. The buffer is filled
// with '#' and holds exactly `size` bytes plus a margin, so AddressSanitizer
// sees a write far past the size and the sentinel sees one just past it.
#ifndef QUILLMORE_TESTING_COPY_OUT_CHECK_H_
#define QUILLMORE_TESTING_COPY_OUT_CHECK_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quillmore {

using FillFn = std::function<std::uint32_t(char* buffer, std::uint32_t size)>;

// `(obj.*method)(args..., buffer, size)` as a FillFn; `obj` must outlive it.
template <typename Obj, typename Method, typename... Args>
FillFn Getter(Obj& obj, Method method, Args... args) {
  return [&obj, method, args...](char* b, std::uint32_t s) {
    return static_cast<std::uint32_t>((obj.*method)(args..., b, s));
  };
}

// Expects the result `result`, the buffer to begin with `written`, and every
// other byte to be untouched.
inline void ExpectWrite(const FillFn& fill, std::uint32_t size,
                        std::uint32_t result, const std::string& written) {
  SCOPED_TRACE("size " + std::to_string(size));
  // Sizes far beyond any text are only ever refused; don't allocate them.
  const std::size_t bytes = std::min<std::size_t>(size, 1 << 16) + 16;
  std::vector<char> buf(std::max(bytes, written.size()), '#');
  EXPECT_EQ(fill(buf.data(), size), result);
  std::string want = written;
  want.resize(buf.size(), '#');
  EXPECT_EQ(std::string(buf.begin(), buf.end()), want);
}

// The usual contract: an empty `want` means 0 and nothing written; otherwise
// the text and its terminator.
inline void ExpectCopyOut(const FillFn& fill, std::uint32_t size,
                          const std::string& want) {
  const auto n = static_cast<std::uint32_t>(want.size());
  ExpectWrite(fill, size, n, n == 0 ? want : want + '\0');
}

// For texts too long to spell out: expects nothing past `size` touched and,
// for a result n other than 0, a terminator at n. Returns the result.
inline std::uint32_t ExpectWithinSize(const FillFn& fill, std::uint32_t size) {
  SCOPED_TRACE("size " + std::to_string(size));
  std::vector<char> buf(std::size_t{size} + 16, '#');
  const std::uint32_t n = fill(buf.data(), size);
  EXPECT_TRUE(n == 0 || (n < size && buf[n] == '\0')) << "result " << n;
  EXPECT_EQ(std::string(buf.begin() + size, buf.end()), std::string(16, '#'));
  return n;
}

// Nothing at sizes 0, 1, length - 1 and length; the text at length + 1.
inline void ExpectCopyOutAtEdges(const FillFn& fill, const std::string& want) {
  const auto len = static_cast<std::uint32_t>(want.size());
  for (std::uint32_t size : {0u, 1u, len - 1, len})
    ExpectCopyOut(fill, size, "");
  ExpectCopyOut(fill, len + 1, want);
}

}  // namespace quillmore

#endif  // QUILLMORE_TESTING_COPY_OUT_CHECK_H_
