#include "config/database_settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quillmore {
namespace {

TEST(DatabaseSettingsTest, JetFilePathJoinsFolderAndName) {
  struct Case {
    int device;
    std::optional<std::string> folder;
    std::optional<std::string> want;
  } cases[] = {
      {2, "/data/Text", "/data/Text/textdb2.mdb"},
      {2, "/data/Text/", "/data/Text/textdb2.mdb"},
      {2, "D:\\Text\\", "D:\\Text\\textdb2.mdb"},
      {-1, "/d", "/d/textdb-1.mdb"},
      {2, "", std::nullopt},
      {2, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder.value_or("(null)"));
    EXPECT_EQ(JetFilePath(c.device, c.folder), c.want);
  }
}

TEST(DatabaseSettingsTest, ConnectionStringOfEachEngine) {
  DeviceConfig jet;
  jet.databaseType = 1;
  jet.databasePath = "/data/Text/";
  DeviceConfig sql;
  sql.databaseType = 2;
  sql.databaseServer = "srv";
  sql.databaseName = "db";
  sql.user = "u";
  DeviceConfig sql3 = sql;
  sql3.databaseType = 3;
  DeviceConfig my = sql;
  my.databaseType = 4;
  my.password = "p";
  DeviceConfig no_server = my;
  no_server.databaseServer.reset();
  DeviceConfig no_name = sql;
  no_name.databaseName.reset();
  DeviceConfig none;
  DeviceConfig five = sql;
  five.databaseType = 5;
  // Jet paths were built in 260-character buffers.
  const std::string fits = "/" + std::string(259 - 1 - 12, 'f');
  DeviceConfig jet_259;
  jet_259.databaseType = 1;
  jet_259.databasePath = fits;
  DeviceConfig jet_260 = jet_259;
  jet_260.databasePath = fits + "g";
  DeviceConfig jet_empty = jet;
  jet_empty.databasePath = "";

  struct Case {
    const char* name;
    const DeviceConfig& config;
    std::optional<std::string> want;
  } cases[] = {
      {"jet", jet,
       "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/data/Text/textdb2.mdb;"
       "Persist Security Info=False"},
      {"sql server, no password", sql,
       "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=u;Password=;"
       "Initial Catalog=db;Data Source=srv"},
      {"sql server 3", sql3,
       "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=u;Password=;"
       "Initial Catalog=db;Data Source=srv"},
      {"mysql", my,
       "DRIVER={MySQL ODBC 3.51 Driver};SERVER=srv;DATABASE=db;UID=u;PWD=p;"},
      {"mysql without server", no_server, std::nullopt},
      {"sql server without name", no_name, std::nullopt},
      {"type 0", none, std::nullopt},
      {"type 5", five, std::nullopt},
      {"jet path of 259", jet_259,
       "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + fits +
           "/textdb2.mdb;Persist Security Info=False"},
      {"jet path of 260", jet_260, std::nullopt},
      {"jet, empty folder", jet_empty, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ConnectionString(c.config, 2), c.want);
  }
}

}  // namespace
}  // namespace quillmore
