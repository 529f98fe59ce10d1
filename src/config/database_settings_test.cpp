#include "config/database_settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quillmore {
namespace {

using Text = std::optional<std::string>;

// The connection string of device 2 with the user "u".
Text Connection(int type, Text path, Text db, Text server, Text pwd = {}) {
  return ConnectionString(
      {1, static_cast<std::uint8_t>(type), path, db, server, "u", pwd}, 2);
}

Text Jet(const std::string& file) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file +
         ";Persist Security Info=False";
}

TEST(DatabaseSettingsTest, JetFilePathJoinsFolderAndName) {
  EXPECT_EQ(JetFilePath(2, "/data/Text"), "/data/Text/textdb2.mdb");
  EXPECT_EQ(JetFilePath(2, "/data/Text/"), "/data/Text/textdb2.mdb");
  EXPECT_EQ(JetFilePath(2, "D:\\Text\\"), "D:\\Text\\textdb2.mdb");
  EXPECT_EQ(JetFilePath(-1, "/d"), "/d/textdb-1.mdb");
  EXPECT_EQ(JetFilePath(2, ""), std::nullopt);
  EXPECT_EQ(JetFilePath(2, std::nullopt), std::nullopt);
}

TEST(DatabaseSettingsTest, ConnectionStringOfEachEngine) {
  // Jet paths were built in 260-character buffers: 259 characters fit.
  const std::string fits = "/" + std::string(259 - 1 - 12, 'f');
  EXPECT_EQ(Connection(1, "/d/", {}, {}), Jet("/d/textdb2.mdb"));
  EXPECT_EQ(Connection(1, fits, {}, {}), Jet(fits + "/textdb2.mdb"));
  EXPECT_EQ(Connection(1, fits + "g", {}, {}), std::nullopt);
  const std::string sql =
      "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=u;Password=;"
      "Initial Catalog=db;Data Source=srv";
  EXPECT_EQ(Connection(2, {}, "db", "srv"), sql);  // no password
  EXPECT_EQ(Connection(3, {}, "db", "srv"), sql);
  EXPECT_EQ(Connection(2, {}, {}, "srv"), std::nullopt);  // no name
  EXPECT_EQ(Connection(4, {}, "db", "srv", "p"),
            "DRIVER={MySQL ODBC 3.51 Driver};SERVER=srv;DATABASE=db;UID=u;"
            "PWD=p;");
  EXPECT_EQ(Connection(4, {}, "db", {}, "p"), std::nullopt);  // no server
  EXPECT_EQ(Connection(0, "/d", "db", "srv"), std::nullopt);
  EXPECT_EQ(Connection(5, "/d", "db", "srv"), std::nullopt);
}

}  // namespace
}  // namespace quillmore
