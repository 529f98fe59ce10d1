// NameIndex: a hash table from names to the ids of whatever holds them (a
// ProfileDocument's sections and keys). It keeps hashes and ids only: the
// names stay with their holders, and every lookup is given a test that
// says whether an id's name is the one looked for. Names hash without
// regard to ASCII case, eight bytes at a time (folded as Fold does, a word
// at once).
//
// Open addressing with linear probing; the table is never more than half
// full and doubles when it would be. The hash is seeded once per process,
// so no file can be made whose names all fall into one bucket: lookups take
// expected constant time whatever a file holds.
//
// A const index may be read from several threads at once.
#ifndef QUILLMORE_PROFILE_NAME_INDEX_H_
#define QUILLMORE_PROFILE_NAME_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/word_scan.h"

namespace quillmore {

class NameIndex {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  // The hash of `name` without regard to ASCII case. Names of different
  // groups (the keys of different sections) hash apart.
  static std::uint32_t Hash(std::string_view name) { return Mixed(name, 0); }
  static std::uint32_t Hash(std::string_view name, std::uint32_t group) {
    return Mixed(name, (std::uint64_t{group} + 1) * kOdd);
  }

  // Room for `count` entries without growing.
  void Reserve(std::size_t count);

  // The id of the entry of `group` with `hash` for which `same(id)` holds,
  // or kNone.
  template <typename Same>
  std::uint32_t Find(std::uint32_t hash, std::uint32_t group,
                     const Same& same) const {
    if (slots_.empty()) return kNone;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask; slots_[i].id != kNone;
         i = (i + 1) & mask) {
      const Slot& s = slots_[i];
      if (s.hash == hash && s.group == group && same(s.id)) return s.id;
    }
    return kNone;
  }

  // Adds `id` unless Find would give an entry already (the first entry of
  // a name stays): false then, and nothing is added. `same` is asked about
  // the entries already there only.
  template <typename Same>
  bool Add(std::uint32_t hash, std::uint32_t group, std::uint32_t id,
           const Same& same) {
    Reserve(count_ + 1);
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash & mask;
    for (; slots_[i].id != kNone; i = (i + 1) & mask) {
      const Slot& s = slots_[i];
      if (s.hash == hash && s.group == group && same(s.id)) return false;
    }
    slots_[i] = Slot{hash, group, id};
    ++count_;
    return true;
  }
  // Adds `id`, whose name the index doesn't hold.
  void AddNew(std::uint32_t hash, std::uint32_t group, std::uint32_t id) {
    Reserve(count_ + 1);
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash & mask;
    while (slots_[i].id != kNone) i = (i + 1) & mask;
    slots_[i] = Slot{hash, group, id};
    ++count_;
  }

 private:
  static constexpr std::uint64_t kOdd = 0x9E3779B97F4A7C15ull;
  static const std::uint64_t kSeed;  // chosen at start-up

  // Each byte of `w` as Fold gives it (a to z as A to Z, the others as
  // they are), eight at once.
  static constexpr std::uint64_t FoldWord(std::uint64_t w) {
    const std::uint64_t low7 = w & ~kEveryHighBit;
    const std::uint64_t from_a = low7 + (0x80 - 'a') * kEveryByte;  // >= 'a'
    const std::uint64_t past_z = low7 + (0x80 - 'z' - 1) * kEveryByte;  // > 'z'
    const std::uint64_t lower = from_a & ~past_z & ~w & kEveryHighBit;
    return w ^ (lower >> 2);  // 0x80 >> 2 is the case bit
  }

  static std::uint32_t Mixed(std::string_view name, std::uint64_t salt) {
    std::uint64_t h = kSeed ^ salt ^ (name.size() * kOdd);
    const char* p = name.data();
    std::size_t n = name.size();
    for (; n >= 8; n -= 8, p += 8) {
      h = (h ^ FoldWord(LoadWord(p))) * kOdd;
      h ^= h >> 29;
    }
    std::uint64_t w = 0;
    if (n > 0 && name.size() >= 8) {
      w = LoadWord(p + n - 8);  // the last eight, overlapping
    } else {
      for (std::size_t j = 0; j < n; ++j) {
        w |= std::uint64_t{static_cast<unsigned char>(p[j])} << (8 * j);
      }
    }
    h = (h ^ FoldWord(w)) * kOdd;
    h ^= h >> 32;
    h *= 0xD6E8FEB86659FD93ull;
    h ^= h >> 32;
    return static_cast<std::uint32_t>(h);
  }

  // An empty slot has the id kNone.
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t group = 0;
    std::uint32_t id = kNone;
  };
  // Empty, or a power of two in size and at least twice count_ + 1, so
  // every probe meets an empty slot. An entry lies at its hash's slot or
  // after it, with no empty slot between.
  std::vector<Slot> slots_;
  std::size_t count_ = 0;  // slots in use
};

}  // namespace quillmore

#endif  // QUILLMORE_PROFILE_NAME_INDEX_H_
