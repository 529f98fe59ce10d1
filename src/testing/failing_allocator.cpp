#include "testing/failing_allocator.h"

#include <cstdlib>
#include <new>

namespace {

thread_local bool t_armed = false;
thread_local std::size_t t_countdown = 0;
thread_local bool t_failed = false;
thread_local long t_live = 0;

void* Allocate(std::size_t n) {
  if (t_armed) {
    if (t_countdown-- == 0) {
      t_failed = true;
      throw std::bad_alloc();
    }
    ++t_live;
  }
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* TryAllocate(std::size_t n) noexcept {
  try {
    return Allocate(n);
  } catch (...) {
    return nullptr;
  }
}

void Free(void* p) noexcept {
  if (p == nullptr) return;
  if (t_armed) --t_live;
  std::free(p);
}

}  // namespace

namespace quillmore {

FailingAllocation::FailingAllocation(std::size_t fail_at) {
  t_countdown = fail_at;
  t_failed = false;
  t_live = 0;
  t_armed = true;
}
FailingAllocation::~FailingAllocation() { t_armed = false; }
bool FailingAllocation::failed() const { return t_failed; }
long FailingAllocation::live() const { return t_live; }

}  // namespace quillmore

// Every form, so that memory from one is never freed by another's runtime.
void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return TryAllocate(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return TryAllocate(n);
}
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Free(p); }
