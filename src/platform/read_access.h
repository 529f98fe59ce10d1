// The read-access test of caller memory (Platform::IsReadable): whether a
// range of the process's own memory can be read, answered without ever
// faulting or touching it (a guard page stays armed).
//
// Cost. A range inside the calling thread's stack, from the test's own frame
// up to the stack's top, or inside the main program's static data and
// constants is answered with a few comparisons: we take it that a host
// never unmaps or protects its own stack or static data. The stack's bounds
// are looked up once per thread, the program's once per process. Any other
// range is asked about afresh on every call, so a page unmapped or
// protected since an earlier answer is refused: on Linux one system call per
// 64 pages (posix_read_access.cpp), on Windows one VirtualQuery per region
// the range spans (win32_read_access.cpp).
//
// Threads: may be called from any thread.
#ifndef QUILLMORE_PLATFORM_READ_ACCESS_H_
#define QUILLMORE_PLATFORM_READ_ACCESS_H_

#include <cstddef>

namespace quillmore {

// True when `size` bytes from `p` can be read. A null pointer fails; a size
// of 0 passes for any other pointer; a range that wraps around fails.
bool IsReadableMemory(const void* p, std::size_t size);

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_READ_ACCESS_H_
