// Sentinel checks for text handed into caller buffers. The buffer is filled
// with '#' and holds exactly `size` bytes plus a margin, so AddressSanitizer
// sees a write far past the size and the sentinel sees one just past it.
#ifndef QUILLMORE_TESTING_COPY_OUT_CHECK_H_
#define QUILLMORE_TESTING_COPY_OUT_CHECK_H_

#include <cstdint>
#include <functional>
#include <string>

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
void ExpectWrite(const FillFn& fill, std::uint32_t size, std::uint32_t result,
                 const std::string& written);

// The usual contract: an empty `want` means 0 and nothing written; otherwise
// the text and its terminator.
void ExpectCopyOut(const FillFn& fill, std::uint32_t size,
                   const std::string& want);

// For texts too long to spell out: expects nothing past `size` touched and,
// for a result n other than 0, a terminator at n. Returns the result.
std::uint32_t ExpectWithinSize(const FillFn& fill, std::uint32_t size);

// Nothing at sizes 0, 1, length - 1 and length; the text at length + 1.
void ExpectCopyOutAtEdges(const FillFn& fill, const std::string& want);

}  // namespace quillmore

#endif  // QUILLMORE_TESTING_COPY_OUT_CHECK_H_
