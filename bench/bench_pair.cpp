// Counts the heap allocations of the whole benchmark binary.
#include "bench_pair.h"

#include <cstdlib>
#include <new>

namespace quillmore {
std::atomic<std::uint64_t> g_allocations{0};
}  // namespace quillmore

void* operator new(std::size_t n) {
  quillmore::g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return ::operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
