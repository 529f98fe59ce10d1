#include "textsql/text_queries.h"

#include <gtest/gtest.h>

#include "textsql/script_format.h"

namespace quillmore {
namespace {

TEST(TextQueriesTest, Statements) {
  EXPECT_EQ(InsertQuery("T", -2, "d", "s", "it's", "", "/p", 0x80000000u),
            "INSERT INTO T (f_date, f_systime, f_cam, f_text, f_xml, "
            "f_savepath, f_savepos) VALUES ('d', 's', -2, 'it's', '', '/p', "
            "-2147483648)");
  // Empty names in the lists are skipped.
  EXPECT_EQ(DeleteByIdBatch("T", "\nU1\n\nU2\n", 500),
            "DELETE FROM T WHERE f_id < 500\nDELETE FROM [U1] WHERE f_id < "
            "500\nDELETE FROM [U2] WHERE f_id < 500");
  EXPECT_EQ(DeleteByDateBatch("T", "U1\nU2", "x"),
            "DELETE FROM U1 WHERE f_id IN (SELECT f_id FROM T WHERE f_date < "
            "'x')\nDELETE FROM U2 WHERE f_id IN (SELECT f_id FROM T WHERE "
            "f_date < 'x')\nDELETE FROM T WHERE f_date < 'x'");
  // A "%s" inside a name stays as it is and takes no bound.
  EXPECT_EQ(ExpandScript(SelectTemplate("T", "U%s\nU2"), {"F", "T"}),
            "SELECT * FROM T m INNER JOIN U%s ON m.f_id =  U%s.f_id  INNER "
            "JOIN U2 ON m.f_id =  U2.f_id  WHERE m.f_date between 'F' and "
            "'T' order by m.f_id");
}

}  // namespace
}  // namespace quillmore
