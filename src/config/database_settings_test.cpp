#include "config/database_settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quillmore {
namespace {

using Text = std::optional<std::string>;

DeviceConfig Config(int type, Text path, Text name = {}, Text server = {},
                    Text user = {}, Text password = {}) {
  return {1,       static_cast<std::uint8_t>(type), path, name, server, user,
          password};
}

TEST(DatabaseSettingsTest, JetFilePathJoinsFolderAndName) {
  struct Case {
    int device;
    Text folder;
    Text want;
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
  auto jet = [](const std::string& file) -> Text {
    return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file +
           ";Persist Security Info=False";
  };
  const std::string sql =
      "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=u;Password=;"
      "Initial Catalog=db;Data Source=srv";
  const std::string my =
      "DRIVER={MySQL ODBC 3.51 Driver};SERVER=srv;DATABASE=db;UID=u;PWD=p;";
  // Jet paths were built in 260-character buffers: 259 characters fit.
  const std::string fits = "/" + std::string(259 - 1 - 12, 'f');
  struct Case {
    const char* name;
    DeviceConfig config;
    Text want;
  } cases[] = {
      {"jet", Config(1, "/data/Text/"), jet("/data/Text/textdb2.mdb")},
      {"jet path of 259", Config(1, fits), jet(fits + "/textdb2.mdb")},
      {"jet path of 260", Config(1, fits + "g"), {}},
      {"jet, empty folder", Config(1, ""), {}},
      {"sql server, no password", Config(2, {}, "db", "srv", "u"), sql},
      {"sql server 3", Config(3, {}, "db", "srv", "u"), sql},
      {"sql server without name", Config(2, {}, {}, "srv", "u"), {}},
      {"mysql", Config(4, {}, "db", "srv", "u", "p"), my},
      {"mysql without server", Config(4, {}, "db", {}, "u", "p"), {}},
      {"type 0", Config(0, "/d", "db", "srv", "u"), {}},
      {"type 5", Config(5, "/d", "db", "srv", "u"), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ConnectionString(c.config, 2), c.want);
  }
}

}  // namespace
}  // namespace quillmore
