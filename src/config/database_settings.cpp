#include "config/database_settings.h"

namespace quillmore {

std::optional<std::string> JetFilePath(
    int device, const std::optional<std::string>& folder) {
  if (!folder || folder->empty()) return std::nullopt;
  std::string name = "textdb";
  name += std::to_string(device);
  name += ".mdb";
  const char last = folder->back();
  // A folder written on Windows may still end in a backslash.
  if (last == '/' || last == '\\') return *folder + name;
  return *folder + "/" + name;
}

std::optional<std::string> ConnectionString(const DeviceConfig& c, int device) {
  const std::string user = c.user.value_or("");
  const std::string password = c.password.value_or("");
  switch (c.databaseType) {
    case 1: {
      std::optional<std::string> path = JetFilePath(device, c.databasePath);
      if (!path || path->size() > kMaxPathLength) return std::nullopt;
      return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + *path +
             ";Persist Security Info=False";
    }
    case 2:
    case 3:
      if (!c.databaseName || !c.databaseServer) return std::nullopt;
      return "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=" + user +
             ";Password=" + password + ";Initial Catalog=" + *c.databaseName +
             ";Data Source=" + *c.databaseServer;
    case 4:
      if (!c.databaseName || !c.databaseServer) return std::nullopt;
      return "DRIVER={MySQL ODBC 3.51 Driver};SERVER=" + *c.databaseServer +
             ";DATABASE=" + *c.databaseName + ";UID=" + user +
             ";PWD=" + password + ";";
    default:
      return std::nullopt;
  }
}

}  // namespace quillmore
