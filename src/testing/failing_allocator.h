// Makes one chosen operator new on the calling thread throw std::bad_alloc,
// and counts the allocations that are still live, so a test can walk every
// allocation of a call and check that a failure leaks nothing. The test
// binary's operator new and delete route through malloc and free; only a
// thread with an armed FailingAllocation is affected.
#ifndef QUILLMORE_TESTING_FAILING_ALLOCATOR_H_
#define QUILLMORE_TESTING_FAILING_ALLOCATOR_H_

#include <cstddef>

namespace quillmore {

class FailingAllocation {
 public:
  // The allocation numbered `fail_at` (from 0) while this object lives
  // throws.
  explicit FailingAllocation(std::size_t fail_at);
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;
  ~FailingAllocation();

  bool failed() const;
  // Allocations made minus allocations freed since construction.
  long live() const;
};

}  // namespace quillmore

#endif  // QUILLMORE_TESTING_FAILING_ALLOCATOR_H_
