// The read-access test on Windows. The thread's stack bounds come from
// GetCurrentThreadStackLimits once per thread, the program's sections from
// its image headers once per process; anything else is asked of VirtualQuery,
// which describes the pages without touching them. Not IsBadReadPtr: it
// reads the memory, which disarms a guard page (the next stack growth then
// faults instead of growing).
#include <cstdint>

#include "platform/read_access.h"
#include "platform/win32_api.h"

namespace quillmore {
namespace {

using Address = std::uintptr_t;

struct StackBounds {
  ULONG_PTR low;
  ULONG_PTR high;  // one past the top
  bool known;
};
// Zero-initialised per thread: looked up on the thread's first call.
thread_local StackBounds t_stack;

// Between this frame and the top of the thread's stack every page is in use
// by live frames, so it is committed. The frame is checked to lie in the
// stack: on a fiber's own stack it does not.
bool InOwnStack(Address first, Address last) {
  const auto frame = reinterpret_cast<Address>(__builtin_frame_address(0));
  StackBounds& s = t_stack;
  if (!s.known) {
    ::GetCurrentThreadStackLimits(&s.low, &s.high);
    s.known = true;
  }
  return s.low <= frame && frame <= first && last < s.high;
}

// The main program's readable sections, as loaded.
struct Sections {
  static constexpr int kMax = 16;
  Address first[kMax];
  Address end[kMax];  // one past the last byte
  int count = 0;
};

Sections ProgramSections() {
  Sections s;
  const auto base = reinterpret_cast<Address>(::GetModuleHandleA(nullptr));
  if (base == 0) return s;
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_SECTION_HEADER* sec = IMAGE_FIRST_SECTION(nt);
  for (int i = 0; i < nt->FileHeader.NumberOfSections && s.count < s.kMax;
       ++i) {
    const DWORD c = sec[i].Characteristics;
    if ((c & IMAGE_SCN_MEM_READ) == 0 || (c & IMAGE_SCN_MEM_DISCARDABLE) != 0)
      continue;
    s.first[s.count] = base + sec[i].VirtualAddress;
    s.end[s.count] = s.first[s.count] + sec[i].Misc.VirtualSize;
    ++s.count;
  }
  return s;
}

bool InProgram(Address first, Address last) {
  static const Sections sections = ProgramSections();
  for (int i = 0; i < sections.count; ++i) {
    if (sections.first[i] <= first && last < sections.end[i]) return true;
  }
  return false;
}

bool IsReadableProtection(DWORD protect) {
  if ((protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return false;
  return (protect &
          (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

}  // namespace

bool IsReadableMemory(const void* p, std::size_t size) {
  if (p == nullptr) return false;
  if (size == 0) return true;
  const auto first = reinterpret_cast<Address>(p);
  if (size - 1 > UINTPTR_MAX - first) return false;  // wraps around
  const Address last = first + (size - 1);
  if (InOwnStack(first, last) || InProgram(first, last)) return true;
  // One question per region: the work is bounded by the regions the range
  // spans.
  for (Address at = first;;) {
    MEMORY_BASIC_INFORMATION info;
    if (::VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info) ==
            0 ||
        info.State != MEM_COMMIT || !IsReadableProtection(info.Protect)) {
      return false;
    }
    const Address end =
        reinterpret_cast<Address>(info.BaseAddress) + info.RegionSize;
    if (end == 0 || end > last) return true;  // the region holds the rest
    at = end;
  }
}

}  // namespace quillmore
