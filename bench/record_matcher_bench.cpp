// The record matcher's text tests against baselines in the same run:
// a case-sensitive std::string_view::find (a lower bound that does less
// work), upper-cased copies searched with std::string::find (the obvious
// case-insensitive way), and a naive case-insensitive scan without copies.
// Texts: a receipt, 64 KiB of receipts, and 64 KiB of "a" searched for
// 48 "a" and a "b" (the worst case of a naive scan).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "quillmore/QuillmoreExt.h"
#include "search/ascii_search.h"
#include "search/record_matcher.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

const char kReceipt[] =
    "STORE 0042  TILL 3\r\n2024-05-17 14:03:22  CLERK ANN\r\n"
    "MILK 1L              1.19\r\nBREAD                2.49\r\n"
    "COFFEE 500G          6.99\r\nAPPLES 1.2KG         3.58\r\n"
    "SUBTOTAL            14.25\r\nVAT 7%               0.93\r\n"
    "TOTAL               14.25\r\nCard payment        14.25\r\n";

struct Input {
  std::string text;
  std::string pattern;
};

// 0: one receipt; 1: 64 KiB of receipts; 2: 64 KiB adversarial.
const Input& InputFor(int which) {
  static const std::vector<Input> inputs = [] {
    std::vector<Input> v(3);
    v[0] = {kReceipt, "CARD PAYMENT"};
    while (v[1].text.size() < 65536) v[1].text += kReceipt;
    v[1].text += "VOID";
    v[1].pattern = "void";
    v[2] = {std::string(65536, 'a'), std::string(48, 'a') + "b"};
    return v;
  }();
  return inputs[which];
}

void SetLabels(benchmark::State& state, const Input& in) {
  static const char* const kNames[] = {"receipt", "receipts_64k",
                                       "adversarial_64k"};
  state.SetLabel(kNames[state.range(0)]);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(in.text.size()));
}

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

void BM_ContainsIgnoringCase(benchmark::State& state) {
  const Input& in = InputFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(ContainsIgnoringCase(in.text, in.pattern));
  }
  SetLabels(state, in);
}

void BM_MatchesSearch(benchmark::State& state) {
  const Input& in = InputFor(static_cast<int>(state.range(0)));
  _tagITEMSEARCHINFO item{};
  item.byType = 2;
  item.nSplit = 0;  // passes on all three texts: the search runs
  std::memcpy(item.szKeyword, in.pattern.data(),
              std::min(in.pattern.size(), sizeof item.szKeyword - 1));
  _tagSEARCHPARAM param{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        MatchesSearch(in.text, std::span<const _tagSEARCHPARAM>(&param, 1), 0,
                      std::span<const _tagITEMSEARCHINFO>(&item, 1)));
  }
  SetLabels(state, in);
}

// Number extraction over the whole text, first and last number.
void BM_ExtractNumbers(benchmark::State& state) {
  const Input& in = InputFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(ExtractNumbers(in.text));
  }
  SetLabels(state, in);
}

// Through the public facade: adds the read-access test of the parameters
// and strlen.
void BM_FacadeIsValidSearchRecord(benchmark::State& state) {
  const Input& in = InputFor(static_cast<int>(state.range(0)));
  TestInstallation inst;
  inst.Write("devdata1.ini",
             "[GENERAL]\nDBTYPE=1\n[ITEMSEARCH]\nLEN=1\nS1=k\n[S1]\nTYPE=2\n"
             "SPLIT=0\nKEYWORD=" +
                 in.pattern + "\n");
  CQuillmoreExt q;
  q.LoadData(1);
  _tagSEARCHPARAM param{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        q.IsValidSearchRecord(in.text.c_str(), &param, 1, 0));
  }
  SetLabels(state, in);
}

void BM_Baseline_StringViewFind(benchmark::State& state) {
  const Input& in = InputFor(static_cast<int>(state.range(0)));
  const std::string_view text(in.text);
  for (auto _ : state) {
    benchmark::DoNotOptimize(text.find(in.pattern));
  }
  SetLabels(state, in);
}

void BM_Baseline_UpperCopies(benchmark::State& state) {
  const Input& in = InputFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::string text = in.text;
    std::string pattern = in.pattern;
    std::transform(text.begin(), text.end(), text.begin(), Upper);
    std::transform(pattern.begin(), pattern.end(), pattern.begin(), Upper);
    benchmark::DoNotOptimize(text.find(pattern));
  }
  SetLabels(state, in);
}

void BM_Baseline_NaiveScan(benchmark::State& state) {
  const Input& in = InputFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const std::string& t = in.text;
    const std::string& p = in.pattern;
    bool found = false;
    for (std::size_t i = 0; !found && i + p.size() <= t.size(); ++i) {
      std::size_t j = 0;
      while (j < p.size() && Upper(t[i + j]) == Upper(p[j])) ++j;
      found = j == p.size();
    }
    benchmark::DoNotOptimize(found);
  }
  SetLabels(state, in);
}

BENCHMARK(BM_ContainsIgnoringCase)->DenseRange(0, 2);
BENCHMARK(BM_MatchesSearch)->DenseRange(0, 2);
BENCHMARK(BM_ExtractNumbers)->DenseRange(0, 1);
BENCHMARK(BM_FacadeIsValidSearchRecord)->DenseRange(0, 2);
BENCHMARK(BM_Baseline_StringViewFind)->DenseRange(0, 2);
BENCHMARK(BM_Baseline_UpperCopies)->DenseRange(0, 2);
BENCHMARK(BM_Baseline_NaiveScan)->DenseRange(0, 2);

}  // namespace
}  // namespace quillmore
