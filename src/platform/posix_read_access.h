// The read-access test of caller memory on Linux (PosixPlatform::IsReadable):
// whether a range of the process's own memory can be read, answered without
// ever faulting.
//
// Cost. A range inside the calling thread's stack, from the test's own frame
// up to the stack's top, or inside a readable segment of the main program
// (its static data and constants) is answered with a few comparisons: we
// take it that a host never unmaps or protects its own stack or static
// data. The stack's bounds are looked up once per thread, the segments once
// per process. Any other range costs one system call per 64 pages: the
// kernel copies one byte of each page (process_vm_readv) and an unreadable
// page ends the copy short. Where a sandbox forbids that call, each page is
// written to a pipe instead (a few calls per page).
//
// Nothing else is remembered: memory outside those two regions is asked
// about afresh on every call, so a page unmapped or protected since an
// earlier answer is refused.
//
// Threads: may be called from any thread, also in a forked child.
#ifndef QUILLMORE_PLATFORM_POSIX_READ_ACCESS_H_
#define QUILLMORE_PLATFORM_POSIX_READ_ACCESS_H_

#include <cstddef>

namespace quillmore {

// True when `size` bytes from `p` can be read. A null pointer fails; a size
// of 0 passes for any other pointer; a range that wraps around fails.
bool IsReadableMemory(const void* p, std::size_t size);

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_POSIX_READ_ACCESS_H_
