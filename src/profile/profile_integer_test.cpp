#include "profile/profile_integer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quillmore {
namespace {

TEST(ProfileIntegerTest, ReadsAsWindowsDoes) {
  const std::string ones(29, '1'), zeros(29, '0');
  const struct {
    std::string value;
    std::int32_t want;
  } cases[] = {
      // clang-format off
      {"12abc", 12}, {"12a3", 12}, {" 7", 7}, {"\t\x01 9", 9}, {"+5", 5}, {"- 5", 0},
      {"-", 0}, {"010", 10}, {"-0x10", -16}, {"+0x10", 16},
      {"0xFFFFFFFF", -1}, {"0x1FFFFFFFF", -1}, {"0x7fffffff", INT32_MAX},
      {"0xG", 0}, {"0x-5", 0}, {"0X1f", 0}, {"0o17", 15}, {"0o8", 0},
      {"0O17", 0}, {"0b101", 5}, {"0b2", 0}, {" -0b11", -3}, {"00x10", 0},
      {"99999999999", 1215752191}, {"4294967296", 0},
      {"2147483648", INT32_MIN}, {"-2147483649", INT32_MAX},
      // Only the first 29 characters count.
      {zeros.substr(1) + "1", 1}, {zeros + "1", 0}, {ones, 1729917383},
      {ones + "1", 1729917383},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(ParseProfileInteger(c.value), c.want);
  }
}

}  // namespace
}  // namespace quillmore
