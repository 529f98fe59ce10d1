#include "textsql/text_queries.h"

#include <gtest/gtest.h>

#include "textsql/script_format.h"

namespace quillmore {
namespace {

// The INSERT is pinned through the facade (datastore_search_test.cpp).
TEST(TextQueriesTest, Statements) {
  std::string out = "old";  // each builder replaces what the string held
  // Empty names in the lists are skipped.
  DeleteByIdBatch(out, "T", "\nU1\n\nU2\n", 500);
  EXPECT_EQ(out,
            "DELETE FROM T WHERE f_id < 500\nDELETE FROM [U1] WHERE f_id < "
            "500\nDELETE FROM [U2] WHERE f_id < 500");
  DeleteByDateBatch(out, "T", "U1\nU2", "x");
  EXPECT_EQ(out,
            "DELETE FROM U1 WHERE f_id IN (SELECT f_id FROM T WHERE f_date < "
            "'x')\nDELETE FROM U2 WHERE f_id IN (SELECT f_id FROM T WHERE "
            "f_date < 'x')\nDELETE FROM T WHERE f_date < 'x'");
  // A "%s" inside a name stays as it is and takes no bound.
  SelectTemplate(out, "T", "U%s\nU2");
  EXPECT_EQ(ExpandScript(out, {"F", "T"}),
            "SELECT * FROM T m INNER JOIN U%s ON m.f_id =  U%s.f_id  INNER "
            "JOIN U2 ON m.f_id =  U2.f_id  WHERE m.f_date between 'F' and "
            "'T' order by m.f_id");
}

}  // namespace
}  // namespace quillmore
