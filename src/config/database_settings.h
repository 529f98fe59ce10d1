// A device's database settings and what is derived from them: the Jet
// file's path and the connection string of each engine.
#ifndef QUILLMORE_CONFIG_DATABASE_SETTINGS_H_
#define QUILLMORE_CONFIG_DATABASE_SETTINGS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quillmore {

// The loaded GENERAL section of one device. A text is nullopt when its key
// was missing or empty at load time.
struct DeviceConfig {
  std::uint8_t useDatabase = 0;
  std::uint8_t databaseType = 0;  // 1 Jet, 2 and 3 SQL Server, 4 MySQL
  std::optional<std::string> databasePath;
  std::optional<std::string> databaseName;
  std::optional<std::string> databaseServer;
  std::optional<std::string> user;
  std::optional<std::string> password;
};

// Longest path that a 260-character buffer holds.
inline constexpr std::size_t kMaxPathLength = 259;

// "<folder>/textdb<device>.mdb"; a folder that already ends in a separator
// gets none added. nullopt without a folder or with an empty one.
std::optional<std::string> JetFilePath(
    int device, const std::optional<std::string>& folder);

// The connection string for the settings' database type, or nullopt when
// the type has none or a needed setting is missing. A Jet path longer than
// kMaxPathLength has none. Server strings are formed whole, however long
// their settings; the caller's buffer decides whether they fit.
std::optional<std::string> ConnectionString(const DeviceConfig& config,
                                            int device);

}  // namespace quillmore

#endif  // QUILLMORE_CONFIG_DATABASE_SETTINGS_H_
