// Text results of the library, fetched whole: the buffer a getter is called
// with grows until the result is complete. Shared by the quillmore CLI and
// quillmore-host; it uses only the public header.
//
// The library's getters are of two kinds, and each needs its own rule:
// - per-record getters (a setting, a name, one statement, a batch built
//   whole) give 0 both when the buffer is too small and when there is
//   nothing to give. RecordText grows while the result is 0, from a few KiB
//   up to a limit the caller names, so an empty field costs a few small
//   calls.
// - batch getters (the user-table CREATE and DROP batches, the table-name
//   and column lists) leave out an entry that doesn't fit and go on with
//   the next, so a non-zero result can still be incomplete. BatchText grows
//   until the buffer is larger than the result plus the largest entry there
//   can be: then every entry left out would have fit, so none was.
//
// The getter is called as get(buffer, size) and returns the library's
// result. Nothing here keeps state; use from any thread.
#ifndef QUILLMORE_TOOLS_LIBRARY_TEXT_H_
#define QUILLMORE_TOOLS_LIBRARY_TEXT_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "quillmore/QuillmoreExt.h"

namespace quillmore_tools {

inline constexpr uint32_t kStartSize = 4096;
// Settings, names, scripts (their expansion stops at 1023 characters) and
// statements that depend on no record.
inline constexpr uint32_t kFieldLimit = 64u * 1024;
inline constexpr uint32_t kBatchLimit = 64u * 1024 * 1024;

// Per-record getters. Empty when the getter gave 0 at `limit` too.
template <typename Get>
std::string RecordText(Get get, uint32_t limit = kFieldLimit,
                       uint32_t start = kStartSize) {
  std::string buf;
  for (uint64_t size = std::max<uint32_t>(start, 1);; size *= 4) {
    size = std::min<uint64_t>(size, limit);
    buf.assign(size, '\0');
    const uint32_t n = get(buf.data(), static_cast<uint32_t>(size));
    // GetInsertQueryEx may fill the buffer exactly (it writes no terminator).
    if (n != 0 && n <= size) {
      buf.resize(n);
      return buf;
    }
    if (size >= limit) return std::string();
  }
}

// Batch getters whose entries are at most `entry_bound` bytes, separator
// included. Empty when the batch is empty or still not complete at `limit`.
template <typename Get>
std::string BatchText(Get get, uint32_t entry_bound,
                      uint32_t limit = kBatchLimit) {
  std::string buf;
  for (uint64_t size = kStartSize;; size *= 4) {
    size = std::min<uint64_t>(size, limit);
    buf.assign(size, '\0');
    const uint32_t n = get(buf.data(), static_cast<uint32_t>(size));
    if (n >= size) return std::string();
    if (size > uint64_t{n} + entry_bound) {
      buf.resize(n);
      return buf;
    }
    if (size >= limit) return std::string();
  }
}

// The largest entry of a user-table batch or list: a CREATE statement's
// head (CREATE TABLE, a name of at most 73 characters, the f_id column,
// the closing parenthesis and a line feed) and, per definition of the
// entry, a column clause of at most 79 characters. DROP statements, names
// and column names are shorter than the head alone.
inline uint32_t UserTableEntryBound(const _tagUSERTABLEINFO* defs,
                                    uint32_t count) {
  uint64_t widest = count;
  for (uint32_t i = 0; defs != nullptr && i < count; ++i) {
    widest = std::max<uint64_t>(widest, defs[i].dwChildLen);
  }
  return static_cast<uint32_t>(
      std::min<uint64_t>(128 + 80 * widest, kBatchLimit));
}

// The same for a device's stored definitions.
inline uint32_t UserTableEntryBound(CQuillmoreExt& q, int device) {
  const uint32_t count = q.GetUserTableElementsCount(device);
  if (count == 0) return UserTableEntryBound(nullptr, 0);
  std::vector<_tagUSERTABLEINFO> defs(count);
  const uint32_t got = q.GetUserTableElements(device, defs.data(), count);
  const uint32_t bound = UserTableEntryBound(defs.data(), got);
  if (got != 0) q.FreeUserTableElements(defs.data(), got);
  return bound;
}

}  // namespace quillmore_tools

#endif  // QUILLMORE_TOOLS_LIBRARY_TEXT_H_
