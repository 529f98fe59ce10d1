#include "profile/name_index.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmore {
namespace {

// Names of every length up to three words and two bytes, so every letter
// passes through whole words and the overlapping tail, hash alike whatever
// their case, and apart when a byte or the group differs.
TEST(NameIndexTest, HashIgnoresCaseOnly) {
  std::string lower, upper;
  for (char c = 'a'; c <= 'z'; ++c) {
    lower += c;
    upper += Fold(c);
    EXPECT_EQ(NameIndex::Hash(lower, 7), NameIndex::Hash(upper, 7)) << lower;
    EXPECT_NE(NameIndex::Hash(lower, 7), NameIndex::Hash(lower, 8)) << lower;
    for (std::size_t i = 0; i < lower.size(); ++i) {
      std::string other = lower;
      other[i] = '_';
      EXPECT_NE(NameIndex::Hash(lower), NameIndex::Hash(other)) << other;
    }
  }
}

// Id i stands for the name i % 200. Through many growths, with every hash
// equal (the longest probe, round the table's end) or spread, the first id
// of a name stays, and it is found in its group only.
TEST(NameIndexTest, FirstOfANameStaysThroughGrowth) {
  for (const bool one_hash : {true, false}) {
    NameIndex index;
    auto hash = [&](std::uint32_t name) {
      return one_hash ? 0xFFFFFFFFu : NameIndex::Hash(std::to_string(name));
    };
    auto is = [](std::uint32_t name) {
      return [name](std::uint32_t id) { return id % 200 == name; };
    };
    for (std::uint32_t id = 0; id < 300; ++id) {
      EXPECT_EQ(index.Add(hash(id % 200), 3, id, is(id % 200)), id < 200);
    }
    for (std::uint32_t name = 0; name <= 200; ++name) {
      EXPECT_EQ(index.Find(hash(name), 3, is(name)),
                name < 200 ? name : NameIndex::kNone);
      EXPECT_EQ(index.Find(hash(name), 4, is(name)), NameIndex::kNone);
    }
  }
}

}  // namespace
}  // namespace quillmore
