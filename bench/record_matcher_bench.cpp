// IsValidSearchRecord through the facade, on a 200-byte receipt, with a
// keyword item (a keyword and a no-keyword) and a numeric item (the last
// number between two bounds), the parameter array on the caller's stack,
// in static storage or on the heap. Floor, in the same iterations: the
// keyword scans with 16-byte compares (SSE2) and one pass for the first and
// last number, written directly; on the heap also the one system call that
// tells whether the array can be read. A second floor takes strcasestr for
// the scans; a third, stricter one finds the last number from the end, as
// the library does, and reads the bounds from their text. Last, the keyword
// search alone over 64 KiB. Our aim: at most 2 times the SSE2 floor on the
// stack and in static storage, at most the floor with its system call on the
// heap.
#include <benchmark/benchmark.h>
#include <emmintrin.h>
#include <strings.h>
#include <sys/uio.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "bench_pair.h"
#include "quillmore/QuillmoreExt.h"
#include "search/ascii_search.h"
#include "search/test_records.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

// 200 bytes: card payment, no void, last number 14.25.
const std::string& Receipt() {
  static const std::string text = [] {
    const std::string head =
        "STORE 0042  TILL 3\r\n2024-05-17 14:03:22  CLERK ANN\r\n"
        "MILK 1L   1.19\r\nBREAD   2.49\r\nCOFFEE 500G   6.99\r\n"
        "APPLES 1.2KG   3.58\r\nCard payment\r\n";
    const std::string tail = "TOTAL   14.25";
    return head + std::string(200 - head.size() - tail.size(), ' ') + tail;
  }();
  return text;
}

// Whether `text` holds `upper` (upper-case letters) in any case: positions
// where its first and last byte match, 16 at a time, compared whole.
bool Sse2Contains(std::string_view text, std::string_view upper) {
  const std::size_t m = upper.size(), n = text.size();
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  const __m128i fu = _mm_set1_epi8(upper[0]), fl = _mm_set1_epi8(upper[0] | 32),
                lu = _mm_set1_epi8(upper[m - 1]),
                ll = _mm_set1_epi8(upper[m - 1] | 32);
  auto whole = [&](std::size_t i) {
    for (std::size_t k = 1; k < m; ++k) {
      const unsigned char c = t[i + k];
      if ((c >= 'a' && c <= 'z' ? c - 32 : c) != upper[k]) return false;
    }
    return true;
  };
  for (std::size_t i = 0; i + m - 1 + 16 <= n; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
    const __m128i b =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i + m - 1));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(
        _mm_or_si128(_mm_cmpeq_epi8(a, fu), _mm_cmpeq_epi8(a, fl)),
        _mm_or_si128(_mm_cmpeq_epi8(b, lu), _mm_cmpeq_epi8(b, ll)))));
    for (; mask != 0; mask &= mask - 1) {
      if (whole(i + static_cast<std::size_t>(__builtin_ctz(mask)))) return true;
    }
  }
  // The last positions, fewer than 16 (none with this text and keywords).
  for (std::size_t i = (n - m + 1) / 16 * 16; i + m <= n; ++i) {
    if ((t[i] | 32) == (upper[0] | 32) && whole(i)) return true;
  }
  return false;
}

// One pass for the first and last number ("-" may start one, "." goes on
// with one); the last, which the item compares, read with from_chars.
// False when there is none.
bool LastNumber(std::string_view text, double& last) {
  std::size_t begin = 0, len = 0, first_at = 0, last_at = 0, last_len = 0;
  std::size_t count = 0;
  bool digits = false;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : '\0';
    const bool digit = c >= '0' && c <= '9';
    if (digit || (c == '-' && !digits)) {
      if (len++ == 0) begin = i;
      digits = digits || digit;
    } else if (digits && c == '.') {
      ++len;
    } else {
      if (digits && count++ == 0) first_at = begin;
      if (digits) last_at = begin, last_len = len;
      digits = false;
      len = 0;
    }
  }
  benchmark::DoNotOptimize(first_at);
  if (count == 0) return false;
  std::from_chars(text.data() + last_at, text.data() + last_at + last_len,
                  last);
  return true;
}

// The last number found from the end instead: back from the last digit
// over digits and points, and a "-" before them (enough for this text).
bool LastNumberFromTheEnd(std::string_view text, double& last) {
  std::size_t end = text.size();
  while (end > 0 && !(text[end - 1] >= '0' && text[end - 1] <= '9')) --end;
  if (end == 0) return false;
  std::size_t begin = end - 1;
  while (begin > 0 && ((text[begin - 1] >= '0' && text[begin - 1] <= '9') ||
                       text[begin - 1] == '.')) {
    --begin;
  }
  if (begin > 0 && text[begin - 1] == '-') --begin;
  std::from_chars(text.data() + begin, text.data() + end, last);
  return true;
}

// The bounds are read from the parameter's text, as the library must.
template <typename Contains>
bool FloorMatch(std::string_view text, Contains contains,
                bool (*numbers)(std::string_view, double&) = LastNumber,
                const _tagSEARCHPARAM* bounds = nullptr) {
  double low = 10, high = 20, last;
  if (bounds != nullptr) {
    std::from_chars(bounds->szValue1, bounds->szValue1 + 2, low);
    std::from_chars(bounds->szValue2, bounds->szValue2 + 2, high);
  }
  return contains(text, "CARD") && !contains(text, "VOID") &&
         numbers(text, last) && last >= low && last <= high;
}

// The system call that answers for memory outside the stack and static
// storage: one byte of each page of the array.
bool ProbeOnce(const void* p, std::size_t size) {
  static const pid_t pid = ::getpid();
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto a = reinterpret_cast<std::uintptr_t>(p);
  char sink[2];
  iovec local = {sink, 1};
  iovec remote[2] = {{const_cast<void*>(p), 1},
                     {reinterpret_cast<void*>((a / page + 1) * page), 1}};
  const std::size_t n = (a + size - 1) / page != a / page ? 2 : 1;
  local.iov_len = n;
  return ::process_vm_readv(pid, &local, 1, remote, n, 0) ==
         static_cast<ssize_t>(n);
}

_tagSEARCHPARAM g_static_params[2];

// range(0): where the parameters lie: 0 stack, 1 static storage, 2 heap.
// range(1): the floor: 0 SSE2 scans and one pass for the numbers,
// 1 strcasestr and that pass, 2 SSE2 scans and the last number found from
// the end.
void BM_IsValidSearchRecord(benchmark::State& state) {
  TestInstallation inst;
  inst.Write("devdata1.ini",
             "[GENERAL]\nDBTYPE=1\n[ITEMSEARCH]\nLEN=2\n[S1]\nTYPE=2\n"
             "KEYWORD=card\nNOKEYWORD=void\n[S2]\nTYPE=2\nFINDNUMBER=1\n"
             "FINDTYPE=1\n");
  CQuillmoreExt q;
  q.LoadData(1);
  const _tagSEARCHPARAM given[2] = {testing::Param(0),
                                    testing::Param(1, "10", 2, "20", 4)};
  _tagSEARCHPARAM on_stack[2] = {given[0], given[1]};
  std::memcpy(g_static_params, given, sizeof given);
  const auto on_heap = std::make_unique<_tagSEARCHPARAM[]>(2);
  std::memcpy(on_heap.get(), given, sizeof given);
  _tagSEARCHPARAM* const params[] = {on_stack, g_static_params, on_heap.get()};
  _tagSEARCHPARAM* const p = params[state.range(0)];
  const bool heap = state.range(0) == 2;
  const int kind = static_cast<int>(state.range(1));

  const std::string& receipt = Receipt();
  const char* text = receipt.c_str();
  const std::string_view view(receipt);
  if (q.IsValidSearchRecord(text, p, 2, 0) != 1 ||
      !FloorMatch(view, Sse2Contains) ||
      !FloorMatch(view, Sse2Contains, LastNumberFromTheEnd)) {
    state.SkipWithError("the record does not match");
    return;
  }
  auto sse2_floor = [&] {
    benchmark::DoNotOptimize(FloorMatch(view, Sse2Contains));
  };
  auto strcasestr_floor = [&] {
    benchmark::DoNotOptimize(
        FloorMatch(view, [&](std::string_view, const char* keyword) {
          return ::strcasestr(text, keyword) != nullptr;
        }));
  };
  auto from_end_floor = [&] {
    benchmark::DoNotOptimize(
        FloorMatch(view, Sse2Contains, LastNumberFromTheEnd, &p[1]));
  };
  auto floor = [&] {
    if (heap) benchmark::DoNotOptimize(ProbeOnce(p, 2 * sizeof *p));
    if (kind == 0) sse2_floor();
    if (kind == 1) strcasestr_floor();
    if (kind == 2) from_end_floor();
  };
  RunPair(
      state,
      [&] { benchmark::DoNotOptimize(q.IsValidSearchRecord(text, p, 2, 0)); },
      floor);
  static const char* const kWhere[] = {"stack", "static", "heap"};
  static const char* const kFloor[] = {
      ", floor: SSE2 scan + number pass", ", floor: strcasestr + number pass",
      ", floor: SSE2 scan + last number from the end + bounds"};
  state.SetLabel(std::string(kWhere[state.range(0)]) + kFloor[kind] +
                 (heap ? " + 1 system call" : ""));
}

// The keyword search alone over 64 KiB, against strcasestr: receipts with
// the keyword at the end, and "a" searched for 48 "a" and a "b" (the worst
// case of a naive scan).
void BM_ContainsIgnoringCase(benchmark::State& state) {
  std::string text, keyword;
  if (state.range(0) == 0) {
    while (text.size() < 65536) text += Receipt() + "\r\n";
    text += "VOID";
    keyword = "void";
  } else {
    text.assign(65536, 'a');
    keyword = std::string(48, 'a') + "b";
  }
  RunPair(
      state,
      [&] { benchmark::DoNotOptimize(ContainsIgnoringCase(text, keyword)); },
      [&] {
        benchmark::DoNotOptimize(::strcasestr(text.c_str(), keyword.c_str()));
      });
  state.SetLabel(state.range(0) == 0 ? "64 KiB of receipts" : "64 KiB of a");
}

BENCHMARK(BM_ContainsIgnoringCase)->DenseRange(0, 1)->UseManualTime();
BENCHMARK(BM_IsValidSearchRecord)
    ->ArgsProduct({{0, 1, 2}, {0, 1, 2}})
    ->UseManualTime();

}  // namespace
}  // namespace quillmore
