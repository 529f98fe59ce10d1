#include "base/word_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quillmore {
namespace {

// Texts of every length up to two words and three bytes, with one byte set
// at every position: a stop, a byte one bit off a stop or with the high
// bit, a letter or a byte its case bit makes. Each scan agrees with its
// byte-by-byte definition and reads only inside the text (each lies in a
// buffer of its exact size: a read past it fails under AddressSanitizer).
TEST(WordScanTest, AgreesWithItsDefinitionAtEveryLengthAndPosition) {
  const std::string stops("\0\r\n=", 4),
      near = "\x01\x0B\x0C\x0E\x80\x8A\x8D<>\xBD";
  for (std::size_t n = 0; n <= 19; ++n) {
    const std::string qs(n, 'q');
    for (std::size_t at = 0; at < std::max<std::size_t>(n, 1); ++at) {
      for (const char c : stops + near + "qQ@`[{\xD1\xF1") {
        std::string s, q = qs;
        for (std::size_t i = 0; i < n; ++i) s += near[i % near.size()];
        if (n > 0) s[at] = q[at] = c;
        const std::vector<char> exact_s(s.begin(), s.end()),
            exact_q(q.begin(), q.end()), exact_qs(qs.begin(), qs.end());
        const std::string_view vs(exact_s.data(), n), vq(exact_q.data(), n),
            vqs(exact_qs.data(), n);
        SCOPED_TRACE(testing::Message()
                     << n << " bytes, " << int{c} << " at " << at);
        EXPECT_EQ((FirstOf<'\0', '\r', '\n', '='>(vs)),
                  std::min(s.find_first_of(stops), n));
        EXPECT_EQ(SameBytes(vqs, vq), q == qs);
        EXPECT_EQ(EqualIgnoringCase(vqs, vq), AsciiUpper(q) == AsciiUpper(qs));
      }
    }
    EXPECT_FALSE(EqualIgnoringCase(qs, qs + "q"));
  }
}

}  // namespace
}  // namespace quillmore
