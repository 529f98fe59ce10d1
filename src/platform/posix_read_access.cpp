// The read-access test on Linux. Outside the thread's stack and the main
// program's segments, the kernel copies one byte of each page
// (process_vm_readv, one call per 64 pages) and an unreadable page ends the
// copy short. Where a sandbox forbids that call, each page is written to a
// pipe instead (a few calls per page). Also safe in a forked child.
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <new>

#include "platform/posix_handles.h"
#include "platform/read_access.h"

namespace quillmore {
namespace {

using Address = std::uintptr_t;

Address PageSize() {
  static const auto page = static_cast<Address>(::sysconf(_SC_PAGESIZE));
  return page;
}

// ---- Regions that need no system call -------------------------------------

struct StackBounds {
  Address low;
  Address high;  // one past the top
  bool known;
};
// Zero-initialised per thread: looked up on the thread's first call.
thread_local StackBounds t_stack;

const StackBounds& ThreadStack() {
  StackBounds& s = t_stack;
  if (!s.known) {
    pthread_attr_t attr;
    if (::pthread_getattr_np(::pthread_self(), &attr) == 0) {
      void* low = nullptr;
      std::size_t size = 0;
      if (::pthread_attr_getstack(&attr, &low, &size) == 0) {
        s.low = reinterpret_cast<Address>(low);
        s.high = s.low + size;
      }
      ::pthread_attr_destroy(&attr);
    }
    s.known = true;
  }
  return s;
}

// Between this frame and the top of the thread's stack every page is in use
// by live frames, so it is mapped. The frame is checked to lie in the stack:
// on a coroutine's or a signal's own stack it does not. Locals that a
// sanitizer moved to the heap lie outside and take the system call.
bool InOwnStack(Address first, Address last) {
  const auto frame = reinterpret_cast<Address>(__builtin_frame_address(0));
  const StackBounds& s = ThreadStack();
  return s.low <= frame && frame <= first && last < s.high;
}

// The main program's readable PT_LOAD segments, as loaded.
struct Segments {
  static constexpr std::size_t kMax = 8;
  Address first[kMax];
  Address end[kMax];  // one past the last byte
  std::size_t count;
};

int CollectSegments(dl_phdr_info* info, std::size_t, void* data) {
  auto& s = *static_cast<Segments*>(data);
  for (std::size_t i = 0; i < info->dlpi_phnum && s.count < Segments::kMax;
       ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD || (ph.p_flags & PF_R) == 0) continue;
    s.first[s.count] = info->dlpi_addr + ph.p_vaddr;
    s.end[s.count] = s.first[s.count] + ph.p_memsz;
    ++s.count;
  }
  return 1;  // the main program is visited first; nothing after it
}

bool InMainProgram(Address first, Address last) {
  static const Segments segments = [] {
    Segments s{};
    ::dl_iterate_phdr(CollectSegments, &s);
    return s;
  }();
  for (std::size_t i = 0; i < segments.count; ++i) {
    if (segments.first[i] <= first && last < segments.end[i]) return true;
  }
  return false;
}

// ---- The system call ------------------------------------------------------

// The process's id without a system call. It is kept in a page the kernel
// clears in a forked child (MADV_WIPEONFORK, however the child was made), so
// a child never asks about its parent's memory. Where no such page can be
// had, getpid() is asked each time.
pid_t OwnPid() {
  static std::atomic<pid_t>* const cached = []() -> std::atomic<pid_t>* {
    void* page = ::mmap(nullptr, PageSize(), PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED) return nullptr;
    if (::madvise(page, PageSize(), MADV_WIPEONFORK) != 0) {
      ::munmap(page, PageSize());
      return nullptr;
    }
    return new (page) std::atomic<pid_t>(0);
  }();
  if (cached == nullptr) return ::getpid();
  pid_t pid = cached->load(std::memory_order_relaxed);
  if (pid == 0) {
    pid = ::getpid();
    cached->store(pid, std::memory_order_relaxed);
  }
  return pid;
}

// Start of the page after the one holding `a`; 0 past the address space.
Address NextPage(Address a) { return (a / PageSize() + 1) * PageSize(); }

// One byte of each page from `first` to `last`, copied by the kernel from
// our own address space: a page that can't be read ends the copy short
// instead of faulting. 1 readable, 0 not, -1 when the call is unavailable
// (a sandbox may forbid it).
int ProbeWithVmRead(Address first, Address last) {
  constexpr std::size_t kBatch = 64;
  char sink[kBatch];
  struct iovec local = {sink, 0};
  struct iovec remote[kBatch];
  Address a = first;
  for (bool done = false; !done;) {
    std::size_t n = 0;
    while (n < kBatch && !done) {
      remote[n++] = {reinterpret_cast<void*>(a), 1};
      const Address next = NextPage(a);
      done = next == 0 || next > last;
      a = next;
    }
    local.iov_len = n;
    const ssize_t got = ::process_vm_readv(OwnPid(), &local, 1, remote, n, 0);
    if (got < 0 && (errno == ENOSYS || errno == EPERM)) return -1;
    if (got != static_cast<ssize_t>(n)) return 0;
  }
  return 1;
}

// The same through a pipe, for when the direct copy is forbidden.
bool ProbeWithPipe(Address first, Address last) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  const UniqueFd read_end(fds[0]), write_end(fds[1]);
  char sink[512];
  std::size_t pending = 0;  // bytes in the pipe; drained before it fills
  bool ok = true;
  for (Address a = first; ok;) {
    // The raw system call: a sanitizer's write() wrapper would check the
    // byte itself instead of letting the kernel answer.
    ssize_t n;
    do {
      n = ::syscall(SYS_write, write_end.get(),
                    reinterpret_cast<const void*>(a), 1);
    } while (n < 0 && errno == EINTR);
    ok = n == 1;
    if (ok && ++pending == sizeof sink) {
      ok = ::read(read_end.get(), sink, sizeof sink) ==
           static_cast<ssize_t>(sizeof sink);
      pending = 0;
    }
    a = NextPage(a);
    if (a == 0 || a > last) break;  // last page probed
  }
  return ok;
}

}  // namespace

bool IsReadableMemory(const void* p, std::size_t size) {
  if (p == nullptr) return false;
  if (size == 0) return true;
  const auto first = reinterpret_cast<Address>(p);
  if (size - 1 > UINTPTR_MAX - first) return false;  // wraps around
  const Address last = first + (size - 1);
  if (InOwnStack(first, last) || InMainProgram(first, last)) return true;
  // Protection is per page, so one byte of each page answers for it.
  static std::atomic<bool> vm_read_works{true};
  if (vm_read_works.load(std::memory_order_relaxed)) {
    const int r = ProbeWithVmRead(first, last);
    if (r >= 0) return r == 1;
    vm_read_works.store(false, std::memory_order_relaxed);
  }
  return ProbeWithPipe(first, last);
}

}  // namespace quillmore
