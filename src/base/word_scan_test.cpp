#include "base/word_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quillmore {
namespace {

// Texts of every length up to two words and three bytes, each in a buffer
// of its exact size, so a read past its end fails under AddressSanitizer.
constexpr std::size_t kLongest = 19;
std::vector<char> Exact(const std::string& s) { return {s.begin(), s.end()}; }
std::string_view View(const std::vector<char>& v) {
  return {v.data(), v.size()};
}

// A text of bytes one bit off a stop or with the high bit, with one byte
// changed at every position: the first stop is found exactly, and the
// comparisons see the change wherever it lies.
TEST(WordScanTest, EveryLengthAndPosition) {
  struct Change {
    char to;
    bool same_ignoring_case;  // the text is made of 'q' for these
  } changes[] = {{'\0', false}, {'\r', false}, {'\n', false},  {'=', false},
                 {'Q', true},   {'@', false},  {'\xD1', false}};
  constexpr std::string_view kStops("\0\r\n=", 4);
  for (std::size_t n = 0; n <= kLongest; ++n) {
    std::string misses;
    for (std::size_t i = 0; i < n; ++i) {
      misses += "\x01\x0B\x0C\x0E\x80\x8A\x8D<>\xBD"[i % 10];
    }
    EXPECT_EQ((FirstOf<'\0', '\r', '\n', '='>(View(Exact(misses)))), n);
    const std::string qs(n, 'q');
    for (std::size_t at = 0; at < n; ++at) {
      for (const Change& c : changes) {
        SCOPED_TRACE(testing::Message()
                     << n << " bytes, " << int{c.to} << " at " << at);
        std::string stop = misses, changed = qs;
        stop[at] = changed[at] = c.to;
        if (at + 1 < n) stop[at + 1] = '\0';  // a second stop above it
        EXPECT_EQ((FirstOf<'\0', '\r', '\n', '='>(View(Exact(stop)))),
                  std::min(stop.find_first_of(kStops), n));
        const auto a = Exact(qs), b = Exact(changed);
        EXPECT_FALSE(SameBytes(View(a), View(b)));
        EXPECT_EQ(EqualIgnoringCase(View(a), View(b)), c.same_ignoring_case);
      }
    }
    EXPECT_TRUE(SameBytes(View(Exact(qs)), qs));
    EXPECT_FALSE(EqualIgnoringCase(View(Exact(qs)), qs + "q"));
  }
}

TEST(WordScanTest, FoldWordFoldsEachByteAsFoldDoes) {
  for (unsigned b = 0; b < 256; ++b) {
    for (unsigned lane = 0; lane < 8; ++lane) {
      std::uint64_t w = 0, want = 0;
      for (unsigned k = 0; k < 8; ++k) {  // the bytes around b beside it
        const auto c =
            static_cast<unsigned char>(k == lane ? b : b + k % 3 - 1);
        w |= std::uint64_t{c} << (8 * k);
        want |= std::uint64_t{Fold(c)} << (8 * k);
      }
      ASSERT_EQ(FoldWord(w), want) << "byte " << b << " in lane " << lane;
    }
  }
}

}  // namespace
}  // namespace quillmore
