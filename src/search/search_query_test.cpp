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

const std::string kHead =
    "SELECT m.f_id as f_id, f_date, f_systime, f_savepath, f_savepos, f_cam, "
    "f_text";
const std::string kFrom = " FROM TBL_TEXTDATAEX2_1A2B3C4D m";
const std::string kDates = "(m.f_date between 'a' and 'b')";

std::string Query(int camera, const std::vector<_tagSEARCHPARAM>& params,
                  const std::vector<_tagITEMSEARCHINFO>& items,
                  int database_type = 2, int join_mode = 0) {
  return BuildSearchQuery(camera, "a", "b", params, join_mode, items,
                          database_type, "TBL_TEXTDATAEX2_1A2B3C4D");
}

// The condition of a statement for one camera.
std::string Where(const std::string& q) {
  const std::size_t from = q.find(" WHERE (");
  const std::size_t to = q.rfind(") and m.f_cam = ");
  if (from == std::string::npos || to == std::string::npos) return "<none>";
  return q.substr(from + 8, to - from - 8);
}

TEST(SearchQueryTest, FourTemplates) {
  const std::vector<_tagSEARCHPARAM> text = {Param(-1, "abc")};
  const std::string like = "((m.f_text like '%abc%'))";
  EXPECT_EQ(Query(101, {}, {}), kHead + kFrom + " WHERE m.f_cam = 101 and " +
                                    kDates + " order by m.f_id");
  EXPECT_EQ(Query(-2, text, {}), kHead + kFrom + " WHERE " + like +
                                     " and m.f_cam = -2 and " + kDates +
                                     " order by m.f_id");
  EXPECT_EQ(Query(100, {}, {}),
            kHead + kFrom + " WHERE " + kDates + " order by m.f_cam,m.f_id");
  EXPECT_EQ(Query(100, text, {}), kHead + " " + kFrom + " WHERE " + like +
                                      " and " + kDates +
                                      " order by m.f_cam,m.f_id");
}

TEST(SearchQueryTest, ConditionsOfEachKind) {
  const std::vector<_tagITEMSEARCHINFO> items = {
      Def(0, "item", "price", 1),
      Def(0),
      Def(0, "clerk", "", 0, "Ann"),
      Def(1, "T", "f_n", 1),
      Def(1, "T", "f_s"),
      Def(1, "T", "f_k", 1, "x"),
  };
  // Parameter, database type, condition.
  const std::tuple<_tagSEARCHPARAM, int, std::string> cases[] = {
      {Param(0, "10", 2, "20", 4), 2,
       "(m.f_xml.exist('//*/item[@price >= 10 and @price <= 20]') = 1)"},
      {Param(1, "", 0, "b", 3), 2,
       "(m.f_xml.exist('//*[(text()) < \"b\"]') = 1)"},
      {Param(2, "no", 1), 2,
       "(m.f_xml.exist('//*/clerk[(text()) = \"Ann\"]') = 1)"},
      {Param(3, "1", 2, "2", 4), 1, "(CDBL(T.f_n) >= 1 and CDBL(T.f_n) <= 2)"},
      {Param(3, "", 0, "2", 3), 1, "(CDBL(T.f_n) < 2)"},
      {Param(3, "1", 1, "2", 3), 2,
       "(CAST(T.f_n as decimal(18, 5)) > 1 and "
       "CAST(T.f_n as decimal(18, 5)) < 2)"},
      {Param(3, "", 0, "2", 4), 3, "(CAST(T.f_n as decimal(18,5)) <= 2)"},
      {Param(3, "2", 0), -1, "(CAST(T.f_n as decimal(18, 5)) = 2)"},
      {Param(3, "12a", 0, "9", 4), 1, "(T.f_n = '12a' and CDBL(T.f_n) <= 9)"},
      {Param(4, "5", 0), 1, "(T.f_s = '5')"},
      {Param(5, "1", 0), 1, "(T.f_k = 'x')"},
      // A code without an operator leaves its value out.
      {Param(4, "a", 5, "b", 4), 2, "(T.f_s <= 'b')"},
      {Param(4, "a", 255, "b", 9), 2, "<none>"},
      {Param(4), 2, "<none>"},
  };
  for (const auto& [param, database_type, where] : cases) {
    SCOPED_TRACE(where);
    EXPECT_EQ(Where(Query(1, {param}, items, database_type)), where);
  }
}

TEST(SearchQueryTest, PreItemsJoinModesAndJoins) {
  std::vector<_tagITEMSEARCHINFO> items = {
      Def(1, "USR_A", "f_a"),
      Def(1, "USR_A", "f_b", 0, "ok"),
      Def(1, "USR_B", "f_c"),
      Def(1, "USR_A", "f_d"),
      Def(0, "e"),
      Def(1, "USR_B", "f_f", 0, "dv"),
  };
  items[2].nPreItemId = 2;  // a pre-item with a fixed value
  items[3].nPreItemId = 1;  // one without: yields nothing
  items[4].nPreItemId = 6;  // the last definition
  items[0].nPreItemId = 7;  // beyond the list: skipped
  const std::string join_a = " INNER JOIN USR_A ON m.f_id =  USR_A.f_id ";
  const std::string join_b = " INNER JOIN USR_B ON m.f_id =  USR_B.f_id ";

  std::string q = Query(1, {Param(2, "v")}, items, 2, 0);
  EXPECT_EQ(Where(q), "(USR_A.f_b = 'ok') and (USR_B.f_c = 'v')");
  EXPECT_NE(q.find(kFrom + join_a + join_b + " WHERE"), std::string::npos);
  q = Query(1, {Param(2, "v")}, items, 2, 1);
  EXPECT_EQ(Where(q), "(USR_A.f_b = 'ok') or (USR_B.f_c = 'v')");
  EXPECT_EQ(Where(Query(1, {Param(4, "v")}, items)),
            "(USR_B.f_f = 'dv') and "
            "(m.f_xml.exist('//*/e[(text()) = \"v\"]') = 1)");

  // One join per table, none for a table that yields nothing; an index
  // equal to the count and an empty free text are skipped.
  q = Query(1,
            {Param(0, "x"), Param(6, "y"), Param(-1), Param(3, "z"), Param(2),
             Param(-5, "t")},
            items, 2, 7);
  EXPECT_EQ(Where(q),
            "(USR_A.f_a = 'x') or (USR_A.f_d = 'z') or (USR_A.f_b = 'ok') or "
            "(m.f_text like '%t%')");
  EXPECT_EQ(q.find(join_a), q.rfind(join_a));
  EXPECT_EQ(q.find(join_b), std::string::npos);

  // Host fields are read to their terminator or their size.
  items[0] = Def(1, std::string(60, 'T'), "f");
  EXPECT_EQ(
      Where(Query(1, {Param(0, std::string(49, 'v'))}, items)),
      "(" + std::string(60, 'T') + ".f = '" + std::string(49, 'v') + "')");
}

}  // namespace
}  // namespace quillmore
