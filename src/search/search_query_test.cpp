#include "search/search_query.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace quillmore {
namespace {

constexpr char kTable[] = "TBL_TEXTDATAEX2_1A2B3C4D";
constexpr char kCols[] =
    "SELECT m.f_id as f_id, f_date, f_systime, f_savepath, f_savepos, f_cam, "
    "f_text";
constexpr char kDates[] = "(m.f_date between '2024-01-01' and '2024-12-31')";

template <std::size_t N>
void Put(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N));
}

_tagITEMSEARCHINFO Xml(const char* element, const char* attribute,
                       int find_number = 0, const char* defined = "") {
  _tagITEMSEARCHINFO d{};
  d.byType = 0;
  Put(d.szElement, element);
  Put(d.szAttribute, attribute);
  Put(d.szDefinedValue, defined);
  d.dwFindNumber = find_number;
  return d;
}

_tagITEMSEARCHINFO Column(const char* table, const char* field,
                          int find_number = 0, const char* defined = "") {
  _tagITEMSEARCHINFO d{};
  d.byType = 1;
  Put(d.szTable, table);
  Put(d.szField, field);
  Put(d.szDefinedValue, defined);
  d.dwFindNumber = find_number;
  return d;
}

_tagSEARCHPARAM Param(int index, const char* v1, int c1 = 0,
                      const char* v2 = "", int c2 = 0) {
  _tagSEARCHPARAM p{};
  p.nItemIndex = index;
  Put(p.szValue1, v1);
  p.byCompare1 = static_cast<std::uint8_t>(c1);
  Put(p.szValue2, v2);
  p.byCompare2 = static_cast<std::uint8_t>(c2);
  return p;
}

std::string Query(int camera, const std::vector<_tagSEARCHPARAM>& params,
                  const std::vector<_tagITEMSEARCHINFO>& items,
                  int database_type = 2, int join_mode = 0) {
  return BuildSearchQuery(camera, "2024-01-01", "2024-12-31", params,
                          join_mode, items, database_type, kTable);
}

// The WHERE condition of a statement for one camera.
std::string Where(const std::string& statement) {
  const std::size_t from = statement.find(" WHERE (") + 8;
  const std::size_t to = statement.rfind(") and m.f_cam = ");
  if (from < 8 || to == std::string::npos) return "<none>";
  return statement.substr(from, to - from);
}

TEST(SearchQueryTest, FourTemplates) {
  const auto free_text = std::vector{Param(-1, "abc")};
  EXPECT_EQ(Query(3, {}, {}), std::string(kCols) + " FROM " + kTable +
                                  " m WHERE m.f_cam = 3 and " + kDates +
                                  " order by m.f_id");
  EXPECT_EQ(Query(2, free_text, {}),
            std::string(kCols) + " FROM " + kTable +
                " m WHERE ((m.f_text like '%abc%')) and m.f_cam = 2 and " +
                kDates + " order by m.f_id");
  EXPECT_EQ(Query(100, {}, {}), std::string(kCols) + " FROM " + kTable +
                                    " m WHERE " + kDates +
                                    " order by m.f_cam,m.f_id");
  EXPECT_EQ(Query(100, free_text, {}),
            std::string(kCols) + "  FROM " + kTable +
                " m WHERE ((m.f_text like '%abc%')) and " + kDates +
                " order by m.f_cam,m.f_id");
  EXPECT_NE(Query(-7, {}, {}).find("WHERE m.f_cam = -7 and"),
            std::string::npos);
}

TEST(SearchQueryTest, ConditionsOfEachKind) {
  const std::vector<_tagITEMSEARCHINFO> items = {
      Xml("item", "price", 1),          // 0
      Xml("", "", 0),                   // 1
      Xml("clerk", "", 0, "Ann"),       // 2
      Column("USR_T", "f_total", 1),    // 3
      Column("USR_T", "f_name", 0),     // 4
      Column("USR_T", "f_kind", 1, "x"),  // 5
  };
  struct Case {
    const char* name;
    _tagSEARCHPARAM param;
    int database_type;
    std::string where;
  } cases[] = {
      {"xml range", Param(0, "10", 2, "20", 4), 2,
       "(m.f_xml.exist('//*/item[@price >= 10 and @price <= 20]') = 1)"},
      {"xml number that isn't", Param(0, "12a", 0), 2,
       "(m.f_xml.exist('//*/item[@price = \"12a\"]') = 1)"},
      {"xml text, lone second", Param(1, "", 0, "b", 3), 2,
       "(m.f_xml.exist('//*[(text()) < \"b\"]') = 1)"},
      {"xml defined value", Param(2, "ignored", 1), 2,
       "(m.f_xml.exist('//*/clerk[(text()) = \"Ann\"]') = 1)"},
      {"jet number", Param(3, "12.5", 1), 1, "(CDBL(USR_T.f_total) > 12.5)"},
      {"jet range", Param(3, "1", 2, "2", 4), 1,
       "(CDBL(USR_T.f_total) >= 1 and CDBL(USR_T.f_total) <= 2)"},
      {"jet lone second", Param(3, "", 0, "2", 3), 1,
       "(CDBL(USR_T.f_total) < 2)"},
      {"server number", Param(3, " 12.5", 0), 2,
       "(CAST(USR_T.f_total as decimal(18, 5)) =  12.5)"},
      {"server range", Param(3, "1", 1, "2", 3), 4,
       "(CAST(USR_T.f_total as decimal(18, 5)) > 1 and "
       "CAST(USR_T.f_total as decimal(18, 5)) < 2)"},
      {"server lone second", Param(3, "", 0, "2", 4), 3,
       "(CAST(USR_T.f_total as decimal(18,5)) <= 2)"},
      {"no config", Param(3, "2", 0), -1,
       "(CAST(USR_T.f_total as decimal(18, 5)) = 2)"},
      {"number as text", Param(3, "12a", 0, "9", 4), 1,
       "(USR_T.f_total = '12a' and CDBL(USR_T.f_total) <= 9)"},
      {"text column", Param(4, "5", 0), 1, "(USR_T.f_name = '5')"},
      {"column defined value", Param(5, "1", 0), 1, "(USR_T.f_kind = 'x')"},
      // Codes without an operator leave their value out.
      {"code 5 on first", Param(4, "a", 5, "b", 4), 2,
       "(USR_T.f_name <= 'b')"},
      {"code 255 on both", Param(4, "a", 255, "b", 9), 2, "<none>"},
      {"no values", Param(4, "", 0), 2, "<none>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Where(Query(1, {c.param}, items, c.database_type)), c.where);
  }
}

TEST(SearchQueryTest, PreItemsJoinModesAndUserTableJoins) {
  std::vector<_tagITEMSEARCHINFO> items = {
      Column("USR_A", "f_a", 0),         // 0
      Column("USR_A", "f_b", 0, "ok"),   // 1: a pre-item with a fixed value
      Column("USR_B", "f_c", 0),         // 2
      Column("USR_A", "f_d", 0),         // 3: pre-item without a value
      Xml("e", "", 0),                   // 4: pre-item beyond the list
      Column("USR_B", "f_f", 0),         // 5: its own pre-item
  };
  items[2].nPreItemId = 2;
  items[3].nPreItemId = 1;
  items[4].nPreItemId = 7;
  items[5].nPreItemId = 6;
  const std::string join_a = " INNER JOIN USR_A ON m.f_id =  USR_A.f_id ";
  const std::string join_b = " INNER JOIN USR_B ON m.f_id =  USR_B.f_id ";

  std::string q = Query(1, {Param(2, "v")}, items, 2, 0);
  EXPECT_EQ(Where(q), "(USR_A.f_b = 'ok') and (USR_B.f_c = 'v')");
  EXPECT_NE(q.find(std::string("FROM ") + kTable + " m" + join_a + join_b +
                   " WHERE"),
            std::string::npos);
  q = Query(1, {Param(2, "v")}, items, 2, 1);
  EXPECT_EQ(Where(q), "(USR_A.f_b = 'ok') or (USR_B.f_c = 'v')");
  EXPECT_EQ(Where(Query(1, {Param(3, "v")}, items)), "(USR_A.f_d = 'v')");
  EXPECT_EQ(Where(Query(1, {Param(4, "v")}, items)),
            "(m.f_xml.exist('//*/e[(text()) = \"v\"]') = 1)");
  EXPECT_EQ(Where(Query(1, {Param(5, "v")}, items)),
            "(USR_B.f_f = 'v')");  // first pass: no fixed value

  // Same table twice: one join. Index == count and empty free text: skipped.
  q = Query(1,
            {Param(0, "x"), Param(6, "y"), Param(-1, ""), Param(3, "z"),
             Param(-5, "t")},
            items, 2, 7);
  EXPECT_EQ(Where(q),
            "(USR_A.f_a = 'x') or (USR_A.f_d = 'z') or "
            "(m.f_text like '%t%')");
  EXPECT_EQ(q.find(join_a), q.rfind(join_a));
  EXPECT_EQ(q.find(join_b), std::string::npos);
}

// The host's char fields may lack their terminator.
TEST(SearchQueryTest, UnterminatedFieldsAreReadTo50Bytes) {
  std::vector<_tagITEMSEARCHINFO> items = {Column("T", "f", 0)};
  std::memset(items[0].szTable, 'T', sizeof items[0].szTable);
  _tagSEARCHPARAM p = Param(0, "");
  std::memset(p.szValue1, 'v', sizeof p.szValue1);
  const std::string where = Where(Query(1, {p}, items));
  EXPECT_EQ(where, "(" + std::string(60, 'T') + ".f = '" +
                       std::string(50, 'v') + "')");
}

}  // namespace
}  // namespace quillmore
