#include "profile/name_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillmore {
namespace {

// Names of every length up to three words (the whole words and the
// overlapping tail) hash alike whatever their case, and apart when a byte
// or the group differs.
TEST(NameIndexTest, HashIgnoresCaseOnly) {
  std::string lower, upper;
  for (char c = 'a'; c <= 'x'; ++c) {
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

// Through many growths, with every hash equal (the longest probe, wrapping
// round the table's end) or spread: the first id of a name stays, and ids
// are found in their group only.
TEST(NameIndexTest, FirstOfANameStaysThroughGrowth) {
  for (const bool one_hash : {true, false}) {
    std::vector<std::string> names;  // by id
    NameIndex index;
    auto hash = [&](const std::string& name) {
      return one_hash ? 0xFFFFFFFFu : NameIndex::Hash(name);
    };
    auto is = [&names](std::string name) {
      return [&names, name](std::uint32_t id) { return names[id] == name; };
    };
    for (std::uint32_t id = 0; id < 300; ++id) {  // n0 to n99 twice
      names.push_back("n" + std::to_string(id % 200));
      EXPECT_EQ(index.Add(hash(names[id]), 3, id, is(names[id])), id < 200);
    }
    for (std::uint32_t id = 0; id < 201; ++id) {
      const std::string name = "n" + std::to_string(id);
      EXPECT_EQ(index.Find(hash(name), 3, is(name)),
                id < 200 ? id : NameIndex::kNone);
      EXPECT_EQ(index.Find(hash(name), 4, is(name)), NameIndex::kNone);
    }
    index.AddNew(hash("n0"), 4, 0);
    EXPECT_EQ(index.Find(hash("n0"), 4, is("n0")), 0u);
  }
}

}  // namespace
}  // namespace quillmore
