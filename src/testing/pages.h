// Whole pages of memory for tests of the read-access test: mapped readable,
// then made unreadable or unmapped, on either system.
#ifndef QUILLMORE_TESTING_PAGES_H_
#define QUILLMORE_TESTING_PAGES_H_

#include <cstddef>

#ifdef _WIN32
#include "platform/win32_api.h"
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace quillmore::testing {

#ifdef _WIN32
inline std::size_t PageSize() {
  SYSTEM_INFO si;
  ::GetSystemInfo(&si);
  return si.dwPageSize;
}
inline char* MapPages(std::size_t bytes) {
  return static_cast<char*>(
      ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}
inline void NoAccess(char* p, std::size_t bytes) {
  DWORD was;
  ::VirtualProtect(p, bytes, PAGE_NOACCESS, &was);
}
inline void Unmap(char* p, std::size_t bytes) {
  ::VirtualFree(p, bytes, MEM_DECOMMIT);
}
inline void Release(char* p, std::size_t) { ::VirtualFree(p, 0, MEM_RELEASE); }
#else
inline std::size_t PageSize() {
  return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}
inline char* MapPages(std::size_t bytes) {
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<char*>(p);
}
inline void NoAccess(char* p, std::size_t bytes) {
  ::mprotect(p, bytes, PROT_NONE);
}
inline void Unmap(char* p, std::size_t bytes) { ::munmap(p, bytes); }
inline void Release(char* p, std::size_t bytes) { ::munmap(p, bytes); }
#endif

// A page the process can't read, like a host's bad pointer.
inline char* UnreadablePage() {
  char* p = MapPages(PageSize());
  NoAccess(p, PageSize());
  return p;
}

}  // namespace quillmore::testing

#endif  // QUILLMORE_TESTING_PAGES_H_
