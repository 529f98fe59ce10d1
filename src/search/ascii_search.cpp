#include "search/ascii_search.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/ascii.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quillmore {
namespace {

constexpr std::size_t kInlinePattern = 64;

inline bool IsLetter(unsigned char folded) {
  return folded >= 'A' && folded <= 'Z';
}

// Position of the first byte at or after `from` that folds to `first`, or
// `n`. For a letter both cases are looked for; each case keeps the position
// of its next occurrence, so every byte is looked at at most once per case
// over the whole search however often this is called.
class FirstByteFinder {
 public:
  FirstByteFinder(const unsigned char* t, std::size_t n, unsigned char first)
      : t_(t), n_(n), upper_(first), lower_(first) {
    if (IsLetter(first)) lower_ = static_cast<unsigned char>(first + 0x20);
    next_upper_ = Find(0, upper_);
    next_lower_ = upper_ == lower_ ? n_ : Find(0, lower_);
  }

  std::size_t Next(std::size_t from) {
    if (next_upper_ < from) next_upper_ = Find(from, upper_);
    if (upper_ == lower_) return next_upper_;
    if (next_lower_ < from) next_lower_ = Find(from, lower_);
    return next_upper_ < next_lower_ ? next_upper_ : next_lower_;
  }

 private:
  std::size_t Find(std::size_t from, unsigned char c) const {
    if (from >= n_) return n_;
    const void* hit = std::memchr(t_ + from, c, n_ - from);
    return hit == nullptr ? n_
                          : static_cast<std::size_t>(
                                static_cast<const unsigned char*>(hit) - t_);
  }

  const unsigned char* t_;
  std::size_t n_;
  unsigned char upper_;
  unsigned char lower_;
  // The first occurrence at or after the last `from` looked up; there is
  // none between that `from` and it.
  std::size_t next_upper_;
  std::size_t next_lower_;
};

// Knuth-Morris-Pratt over folded bytes: `border[i]` is the length of the
// longest proper border of pat[0..i]. The text index never moves back and
// each mismatch shortens the match, so the work is at most 2n steps plus
// the jumps to the next possible first byte.
bool Search(const unsigned char* t, std::size_t n, const unsigned char* pat,
            std::uint32_t* border, std::size_t m) {
  border[0] = 0;
  for (std::size_t i = 1, k = 0; i < m; ++i) {
    while (k > 0 && pat[i] != pat[k]) k = border[k - 1];
    if (pat[i] == pat[k]) ++k;
    border[i] = static_cast<std::uint32_t>(k);
  }
  FirstByteFinder finder(t, n, pat[0]);
  std::size_t k = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (k == 0) {
      i = finder.Next(i);
      if (i >= n) return false;
      if (m == 1) return true;
      k = 1;
      continue;
    }
    const unsigned char c = Fold(t[i]);
    while (k > 0 && c != pat[k]) k = border[k - 1];
    if (c == pat[k] && ++k == m) return true;
  }
  return false;
}

#if defined(__SSE2__)
// `pat` (folded, 1 to kInlinePattern bytes, no longer than the text) in `t`,
// 16 starting positions at a time: those where the pattern's first and last
// byte match, in either case, are compared whole.
bool SearchSse2(const unsigned char* t, std::size_t n, const unsigned char* pat,
                std::size_t m) {
  auto both = [](unsigned char folded, __m128i& upper, __m128i& lower) {
    upper = _mm_set1_epi8(static_cast<char>(folded));
    lower = _mm_set1_epi8(
        static_cast<char>(IsLetter(folded) ? folded + 0x20 : folded));
  };
  __m128i first_upper, first_lower, last_upper, last_lower;
  both(pat[0], first_upper, first_lower);
  both(pat[m - 1], last_upper, last_lower);
  auto whole_at = [&](std::size_t i) {
    for (std::size_t k = 1; k < m; ++k) {
      if (Fold(t[i + k]) != pat[k]) return false;
    }
    return true;
  };
  // Positions i to i + 15; reads t[i] to t[i + m + 14].
  auto block = [&](std::size_t i) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
    const __m128i b =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i + m - 1));
    const __m128i hit =
        _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(a, first_upper),
                                   _mm_cmpeq_epi8(a, first_lower)),
                      _mm_or_si128(_mm_cmpeq_epi8(b, last_upper),
                                   _mm_cmpeq_epi8(b, last_lower)));
    for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit)); mask != 0;
         mask &= mask - 1) {
      if (whole_at(i + static_cast<std::size_t>(__builtin_ctz(mask)))) {
        return true;
      }
    }
    return false;
  };
  const std::size_t positions = n - m + 1;
  std::size_t i = 0;
  for (; i + 16 <= positions; i += 16) {
    if (block(i)) return true;
  }
  if (i == positions) return false;
  // The rest as one block that overlaps the last, when the text is long
  // enough; else position by position.
  if (positions >= 16) return block(positions - 16);
  for (; i < positions; ++i) {
    if (Fold(t[i]) == pat[0] && whole_at(i)) return true;
  }
  return false;
}
#endif

}  // namespace

bool ContainsIgnoringCase(std::string_view text, std::string_view pattern) {
#if defined(__SSE2__)
  const std::size_t m = pattern.size();
  if (m == 0) return true;
  if (m <= kInlinePattern && m <= text.size()) {
    unsigned char pat[kInlinePattern];
    for (std::size_t i = 0; i < m; ++i) {
      pat[i] = Fold(static_cast<unsigned char>(pattern[i]));
    }
    return SearchSse2(reinterpret_cast<const unsigned char*>(text.data()),
                      text.size(), pat, m);
  }
#endif
  return ContainsIgnoringCasePlain(text, pattern);
}

bool ContainsIgnoringCasePlain(std::string_view text,
                               std::string_view pattern) {
  const std::size_t m = pattern.size();
  if (m == 0) return true;
  if (m > text.size()) return false;
  unsigned char inline_pat[kInlinePattern];
  std::uint32_t inline_border[kInlinePattern];
  std::vector<unsigned char> heap_pat;
  std::vector<std::uint32_t> heap_border;
  unsigned char* pat = inline_pat;
  std::uint32_t* border = inline_border;
  if (m > kInlinePattern) {
    heap_pat.resize(m);
    heap_border.resize(m);
    pat = heap_pat.data();
    border = heap_border.data();
  }
  for (std::size_t i = 0; i < m; ++i) {
    pat[i] = Fold(static_cast<unsigned char>(pattern[i]));
  }
  return Search(reinterpret_cast<const unsigned char*>(text.data()),
                text.size(), pat, border, m);
}

}  // namespace quillmore
