#include "search_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillmore_tools {
namespace {

std::string Describe(const std::vector<_tagSEARCHPARAM>& params) {
  std::string out;
  for (const _tagSEARCHPARAM& p : params) {
    out += "[" + std::to_string(p.nItemIndex) + " " + p.szValue1 + "/" +
           std::to_string(p.byCompare1) + " " + p.szValue2 + "/" +
           std::to_string(p.byCompare2) + "]";
  }
  return out;
}

TEST(SearchArgs, OperatorsFillTheirValueAndBoundsMerge) {
  const std::string v49(49, 'v'), v50(50, 'v');
  struct Case {
    std::vector<std::string> args;
    std::string want;  // empty: refused with `error` in the message
    std::string error;
  } cases[] = {
      {{"3=Ann"}, "[3 Ann/0 /0]", ""},
      {{"3>10", "3<=20"}, "[3 10/1 20/4]", ""},
      {{"3<20", "1>=5", "3>=10"}, "[3 10/2 20/3][1 5/2 /0]", ""},
      {{"text=a=b", "text=<c>"}, "[-1 a=b/0 /0][-1 <c>/0 /0]", ""},
      {{"2="}, "[2 /0 /0]", ""},
      {{"0=" + v49}, "[0 " + v49 + "/0 /0]", ""},
      {{"0=" + v50}, "", "at most 49 bytes"},
      {{"3>1", "3=2"}, "", "already has a first"},
      {{"3<1", "3<=2"}, "", "already has a second"},
      {{"text>=1"}, "", "takes only '='"},
      {{"x=1"}, "", "an item index or 'text'"},
      {{"-1=1"}, "", "an item index or 'text'"},
      {{"=1"}, "", "is not ITEM=VALUE"},
      {{"3"}, "", "is not ITEM=VALUE"},
  };
  for (const Case& c : cases) {
    std::vector<_tagSEARCHPARAM> params;
    std::string error;
    const bool ok = ParseSearchArgs(c.args, params, error);
    EXPECT_EQ(ok, c.error.empty()) << c.args[0] << ": " << error;
    if (ok) {
      EXPECT_EQ(Describe(params), c.want) << c.args[0];
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos)
          << c.args[0] << ": " << error;
    }
  }
}

}  // namespace
}  // namespace quillmore_tools
