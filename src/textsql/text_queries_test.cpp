#include "textsql/text_queries.h"

#include <gtest/gtest.h>

#include "textsql/script_format.h"

namespace quillmore {
namespace {

constexpr const char* kTable = "TBL_TEXTDATAEX3_1A2B3C4D";

TEST(TextQueriesTest, Statements) {
  EXPECT_EQ(InsertQuery(kTable, -2, "d", "s", "it's", "", "/p", 0x80000000u),
            "INSERT INTO TBL_TEXTDATAEX3_1A2B3C4D (f_date, f_systime, f_cam, "
            "f_text, f_xml, f_savepath, f_savepos) VALUES ('d', 's', -2, "
            "'it's', '', '/p', -2147483648)");
  EXPECT_EQ(
      DeleteByIdBatch(kTable, "\nU1\n\nU2\n", 500),
      "DELETE FROM TBL_TEXTDATAEX3_1A2B3C4D WHERE f_id < 500\n"
      "DELETE FROM [U1] WHERE f_id < 500\nDELETE FROM [U2] WHERE f_id < 500");
  EXPECT_EQ(DeleteByDateBatch(kTable, "U1\nU2", "x"),
            "DELETE FROM U1 WHERE f_id IN (SELECT f_id FROM "
            "TBL_TEXTDATAEX3_1A2B3C4D WHERE f_date < 'x')\n"
            "DELETE FROM U2 WHERE f_id IN (SELECT f_id FROM "
            "TBL_TEXTDATAEX3_1A2B3C4D WHERE f_date < 'x')\n"
            "DELETE FROM TBL_TEXTDATAEX3_1A2B3C4D WHERE f_date < 'x'");
  EXPECT_EQ(DeleteByDateBatch(kTable, "", "x"),
            "DELETE FROM TBL_TEXTDATAEX3_1A2B3C4D WHERE f_date < 'x'");
  EXPECT_EQ(SelectTemplate(kTable, ""),
            "SELECT * FROM TBL_TEXTDATAEX3_1A2B3C4D m WHERE m.f_date between "
            "'%s' and '%s' order by m.f_id");
  EXPECT_EQ(SelectTemplate(kTable, "U1\nU2"),
            "SELECT * FROM TBL_TEXTDATAEX3_1A2B3C4D m INNER JOIN U1 ON m.f_id "
            "=  U1.f_id  INNER JOIN U2 ON m.f_id =  U2.f_id  WHERE m.f_date "
            "between '%s' and '%s' order by m.f_id");
  // A "%s" inside a name stays as it is and takes no bound.
  EXPECT_EQ(ExpandScript(SelectTemplate(kTable, "U%s"), {"F", "T"}),
            "SELECT * FROM TBL_TEXTDATAEX3_1A2B3C4D m INNER JOIN U%s ON m.f_id "
            "=  U%s.f_id  WHERE m.f_date between 'F' and 'T' order by m.f_id");
}

}  // namespace
}  // namespace quillmore
