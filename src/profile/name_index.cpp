#include "profile/name_index.h"

#include <algorithm>
#include <chrono>

namespace quillmore {

// The clock at start-up and where the stack lies (which address-space
// randomisation moves).
const std::uint64_t NameIndex::kSeed = [] {
  std::uint64_t s = static_cast<std::uint64_t>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  s ^= reinterpret_cast<std::uintptr_t>(&s) * kOdd;
  return s;
}();

void NameIndex::Reserve(std::size_t count) {
  if ((count + 1) * 2 <= slots_.size()) return;
  std::size_t size = std::max<std::size_t>(16, slots_.size());
  while (size < (count + 1) * 2) size *= 2;
  std::vector<Slot> bigger(size);
  const std::size_t mask = bigger.size() - 1;
  for (const Slot& s : slots_) {
    if (s.id == kNone) continue;
    std::size_t i = s.hash & mask;
    while (bigger[i].id != kNone) i = (i + 1) & mask;
    bigger[i] = s;
  }
  slots_.swap(bigger);
}

}  // namespace quillmore
