// A benchmark as a pair: the library's call and its floor, run in turns in
// every iteration, each for a batch of 256 calls, with the heap allocations
// of the library's calls counted. The benchmark's own time is the library's
// per batch; reported per call: the library's time, the floor's, their
// ratio, and allocations.
#ifndef QUILLMORE_BENCH_BENCH_PAIR_H_
#define QUILLMORE_BENCH_BENCH_PAIR_H_

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>

namespace quillmore {

// Every operator new of the benchmark binary (bench_pair.cpp).
extern std::atomic<std::uint64_t> g_allocations;

template <typename Library, typename Floor>
void RunPair(benchmark::State& state, Library library, Floor floor) {
  constexpr int kBatch = 256;
  using Clock = std::chrono::steady_clock;
  double library_ns = 0, floor_ns = 0;
  std::uint64_t allocations = 0;
  for (auto _ : state) {
    const std::uint64_t before = g_allocations.load();
    const auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) library();
    const auto t1 = Clock::now();
    allocations += g_allocations.load() - before;
    for (int i = 0; i < kBatch; ++i) floor();
    const auto t2 = Clock::now();
    const double lib = std::chrono::duration<double>(t1 - t0).count();
    library_ns += lib * 1e9;
    floor_ns += std::chrono::duration<double>(t2 - t1).count() * 1e9;
    state.SetIterationTime(lib);
  }
  const double calls = static_cast<double>(state.iterations()) * kBatch;
  state.counters["ns"] = library_ns / calls;
  state.counters["floor ns"] = floor_ns / calls;
  state.counters["ratio to floor"] = library_ns / floor_ns;
  state.counters["allocs/call"] = static_cast<double>(allocations) / calls;
}

}  // namespace quillmore

#endif  // QUILLMORE_BENCH_BENCH_PAIR_H_
