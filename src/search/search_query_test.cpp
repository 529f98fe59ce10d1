#include "search/search_query.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "search/test_records.h"

namespace quillmore {
namespace {

using testing::Def;
using testing::Param;
using Params = std::vector<_tagSEARCHPARAM>;
using Items = std::vector<_tagITEMSEARCHINFO>;

std::string Query(int camera, const Params& params, const Items& items,
                  int database_type = 2, int join_mode = 0) {
  std::string out = "old";
  BuildSearchQuery(out, camera, "a", "b", params, join_mode, items,
                   database_type, "T0");
  return out;
}

// The condition of a statement for one camera.
std::string Where(const std::string& q) {
  const std::size_t from = q.find(" WHERE (");
  const std::size_t to = q.rfind(") and m.f_cam = ");
  if (from == std::string::npos || to == std::string::npos) return "<none>";
  return q.substr(from + 8, to - from - 8);
}

TEST(SearchQueryTest, FourTemplates) {
  const std::string head =
      "SELECT m.f_id as f_id, f_date, f_systime, f_savepath, f_savepos, "
      "f_cam, f_text";
  const std::string dates = "(m.f_date between 'a' and 'b')";
  // The template with conditions for one camera is pinned through the
  // facade (datastore_search_test.cpp).
  EXPECT_EQ(Query(-2, {}, {}), head + " FROM T0 m WHERE m.f_cam = -2 and " +
                                   dates + " order by m.f_id");
  EXPECT_EQ(Query(100, {}, {}),
            head + " FROM T0 m WHERE " + dates + " order by m.f_cam,m.f_id");
  EXPECT_EQ(Query(100, {Param(-1, "abc")}, {}),
            head + "  FROM T0 m WHERE ((m.f_text like '%abc%')) and " + dates +
                " order by m.f_cam,m.f_id");
}

TEST(SearchQueryTest, ConditionsOfEachKind) {
  const std::string t60(60, 'T'), v50(50, 'v');
  const Items items = {
      // clang-format off
      Def(0, "item", "price", 1), Def(0), Def(0, "clerk", "", 0, "Ann"),
      Def(1, "T", "f_n", 1), Def(1, "T", "f_s"), Def(1, t60, "f"),
      // clang-format on
  };
  // Parameter, database type, condition.
  const std::tuple<_tagSEARCHPARAM, int, std::string> cases[] = {
      {Param(0, "10", 2, "20", 4), 2,
       "(m.f_xml.exist('//*/item[@price >= 10 and @price <= 20]') = 1)"},
      {Param(1, "", 0, "b", 3), 2,
       "(m.f_xml.exist('//*[(text()) < \"b\"]') = 1)"},
      {Param(2, "no", 1), 2,
       "(m.f_xml.exist('//*/clerk[(text()) = \"Ann\"]') = 1)"},
      // Each value is a number or not on its own.
      {Param(3, "1", 2, "9a", 4), 1, "(CDBL(T.f_n) >= 1 and T.f_n <= '9a')"},
      {Param(3, "", 0, "2", 3), 1, "(CDBL(T.f_n) < 2)"},
      {Param(3, "1", 1, "2", 3), -1,
       "(CAST(T.f_n as decimal(18, 5)) > 1 and "
       "CAST(T.f_n as decimal(18, 5)) < 2)"},
      {Param(3, "", 0, "2", 4), 3, "(CAST(T.f_n as decimal(18,5)) <= 2)"},
      // Not numeric; a code without an operator leaves its value out.
      {Param(4, "a", 5, "5", 4), 1, "(T.f_s <= '5')"},
      {Param(4, "a", 255, "b", 9), 2, "<none>"},
      // Host fields are read to their terminator or their size.
      {Param(5, v50), 2, "(" + t60 + ".f = '" + v50 + "')"},
  };
  for (const auto& [param, database_type, where] : cases) {
    EXPECT_EQ(Where(Query(1, {param}, items, database_type)), where);
  }
}

TEST(SearchQueryTest, PreItemsJoinModesAndJoins) {
  Items items = {
      // clang-format off
      Def(1, "USR_A", "f_a"), Def(1, "USR_A", "f_b", 0, "ok"),
      Def(1, "USR_B", "f_c"), Def(1, "USR_A", "f_d"),
      Def(0, "e"), Def(1, "USR_C", "f_f", 0, "dv"),
      // clang-format on
  };
  items[2].nPreItemId = 2;  // a pre-item with a fixed value
  items[3].nPreItemId = 1;  // one without: yields nothing
  items[4].nPreItemId = 6;  // the last definition
  items[0].nPreItemId = 7;  // beyond the list: skipped
  auto join = [](const std::string& t) {
    return " INNER JOIN " + t + " ON m.f_id =  " + t + ".f_id ";
  };
  std::string q = Query(1, {Param(2, "v")}, items);
  EXPECT_EQ(Where(q), "(USR_A.f_b = 'ok') and (USR_B.f_c = 'v')");
  EXPECT_NE(q.find("T0 m" + join("USR_A") + join("USR_B") + " WHERE"),
            std::string::npos);
  // Any other join mode gives "or"; one join per table, none for a table
  // that yields nothing; an index equal to the count and an empty free
  // text are skipped.
  q = Query(1,
            {Param(0, "x"), Param(6, "y"), Param(-1), Param(3, "z"), Param(2),
             Param(4, "v"), Param(-5, "t")},
            items, 2, 7);
  EXPECT_EQ(Where(q),
            "(USR_A.f_a = 'x') or (USR_A.f_d = 'z') or (USR_A.f_b = 'ok') or "
            "(USR_C.f_f = 'dv') or (m.f_xml.exist('//*/e[(text()) = \"v\"]') "
            "= 1) or (m.f_text like '%t%')");
  EXPECT_NE(q.find("T0 m" + join("USR_A") + join("USR_C") + " WHERE"),
            std::string::npos);
}

}  // namespace
}  // namespace quillmore
