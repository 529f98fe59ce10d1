// DataStore: database settings, XML parser settings and the text table's
// name and DDL scripts.
#include <cstring>
#include <string>

#include "config/device_file.h"
#include "frame/datastore.h"
#include "platform/platform.h"
#include "textsql/script_format.h"

namespace quillmore {

namespace {

constexpr std::size_t kScriptBytes = 2048;

enum class ReplacePolicy { kAsk = 1, kReplace = 2 };

// Copies the Jet database template from the DV folder `dv` to the device's
// Jet file in `folder`; what the copy did is not reported. The copy
// replaces an existing file in one step, so the old file is not deleted
// first: with no template to copy it stays as it was. (A missing
// configuration file is made from its template inside the transaction
// that writes it: SetUseDatabase.)
void CopyTemplateFile(Platform& p, const std::string& dv, int device,
                      const std::optional<std::string>& folder,
                      ReplacePolicy policy, const char* question) {
  const std::optional<std::string> target = JetFilePath(device, folder);
  if (!target || target->size() > kMaxPathLength) return;
  if (policy == ReplacePolicy::kAsk && p.FileExists(*target) &&
      !p.AskYesNo(question != nullptr ? question : "")) {
    return;
  }
  p.CopyFile(dv + "/textdb.tmp", *target);
}

// A stored text for a caller's buffer. An empty one (stored empty through
// SetUseDatabase, read as missing by the next load) gives 0 and leaves the
// buffer as it was, like a missing one.
std::uint32_t CopyText(const std::optional<std::string>& text, char* buffer,
                       std::uint32_t size) {
  if (!text || text->empty()) return 0;
  return CopyOut(*text, buffer, size);
}

std::optional<std::string> Given(const char* s) {
  if (s == nullptr) return std::nullopt;
  return std::string(s);
}

}  // namespace

int DataStore::GetUseDatabase() {
  if (device < 0 || !config) return -1;
  return config->useDatabase;
}

int DataStore::GetDatabaseType() {
  if (device < 0 || !config) return -1;
  return config->databaseType;
}

int DataStore::GetDatabaseTypeEx(int d) {
  Snapshot file;
  return DatabaseTypeOf(d, file);
}

std::uint32_t DataStore::GetDatabaseName(char* buffer, std::uint32_t size) {
  if (device < 0 || !config) return 0;
  if (config->databaseType == 1) {
    std::optional<std::string> path = JetFilePath(device, config->databasePath);
    return path ? CopyOut(*path, buffer, size) : 0;
  }
  return CopyText(config->databaseName, buffer, size);
}

std::uint32_t DataStore::GetDatabaseUser(char* buffer, std::uint32_t size) {
  if (device < 0 || !config) return 0;
  return CopyText(config->user, buffer, size);
}

std::uint32_t DataStore::GetDatabasePassword(char* buffer, std::uint32_t size) {
  if (device < 0 || !config) return 0;
  return CopyText(config->password, buffer, size);
}

std::uint32_t DataStore::GetDatabaseServer(char* buffer, std::uint32_t size) {
  if (device < 0 || !config) return 0;
  const int type = config->databaseType;
  if (type < 2 || type > 4) return 0;
  return CopyText(config->databaseServer, buffer, size);
}

std::uint32_t DataStore::GetDatabasePath(char* buffer, std::uint32_t size) {
  if (device < 0 || !config) return 0;
  if (config->databaseType != 1) return 0;
  return CopyText(config->databasePath, buffer, size);
}

std::uint32_t DataStore::GetDatabasePathEx(int d, char* buffer,
                                           std::uint32_t size) {
  if (IsLoaded(d)) return GetDatabasePath(buffer, size);
  Snapshot file;
  if (DatabaseTypeOf(d, file) != 1) return 0;
  const std::string path = ReadText(*file, "GENERAL", "DBPATH", 260);
  if (path.empty()) return 0;
  return CopyOut(path, buffer, size);
}

std::uint32_t DataStore::GetConnectionString(char* buffer, std::uint32_t size) {
  if (device < 0 || !config) return 0;
  std::optional<std::string> s = ConnectionString(*config, device);
  return s ? CopyOut(*s, buffer, size) : 0;
}

void DataStore::SetUseDatabase(int d, int use, int type,
                               const char* pathOrServer,
                               const char* databaseName, const char* user,
                               const char* password) {
  const std::string path = ConfigPath(d);
  if (d < 0 || !IsLoaded(d) || !config) return;
  // One transaction, the template copy of a missing file included.
  platform_->EditProfile(
      path, DvFolder() + "/devdata.tmp", [&](ProfileDocument& file) {
        file.Set("GENERAL", "DATABASE", std::to_string(use));
        file.Set("GENERAL", "DBTYPE", std::to_string(type));
        if (use == 0 || type < 0) return;
        auto write = [&](const char* key, const char* value) {
          if (value != nullptr) file.Set("GENERAL", key, value);
        };
        if (type == 1) {
          write("DBPATH", pathOrServer);
        } else {
          write("DBSERVER", pathOrServer);
          write("DBNAME", databaseName);
        }
        write("USER", user);
        write("PWD", password);
      });
  config->useDatabase = static_cast<std::uint8_t>(use);
  if (use == 0 || type < 0) return;
  config->databaseType = static_cast<std::uint8_t>(type);
  auto store = [](std::optional<std::string>& field, const char* value) {
    if (value != nullptr) field = Given(value);
  };
  if (type == 1) {
    store(config->databasePath, pathOrServer);
  } else {
    store(config->databaseServer, pathOrServer);
    store(config->databaseName, databaseName);
  }
  store(config->user, user);
  store(config->password, password);
}

int DataStore::CreateDatabase(int d, int askBeforeReplacing,
                              const char* question) {
  if (device < 0 || !config || !IsLoaded(d) || config->useDatabase == 0 ||
      config->databaseType != 1) {
    return 0;
  }
  CopyTemplateFile(
      *platform_, DvFolder(), d, config->databasePath,
      askBeforeReplacing != 0 ? ReplacePolicy::kAsk : ReplacePolicy::kReplace,
      question);
  return 1;
}

int DataStore::GetUseXmlParser(int d) {
  if (IsLoaded(d)) return static_cast<int>(useXmlParser);
  Snapshot file;
  return ReadInt(FileOf(d, file), "XML", "USEPARSER");
}

int DataStore::GetXmlParserFile(int d, char* buffer, std::uint32_t size) {
  if (IsLoaded(d)) {
    const std::string_view path(xsltFile, strnlen(xsltFile, sizeof xsltFile));
    if (useXmlParser == 0 || path.empty()) return 0;
    return CopyOut(path, buffer, size) != 0 ? 1 : 0;
  }
  Snapshot file;
  if (ReadInt(FileOf(d, file), "XML", "USEPARSER") == 0) return 0;
  if (buffer == nullptr || size == 0) return 0;
  // Read straight into the caller's size: a longer value is cut to fit.
  const std::string path = ReadText(*file, "XML", "XSLT", size);
  if (path.empty()) return 0;
  return static_cast<int>(CopyOut(path, buffer, size));
}

void DataStore::SetXmlParserFile(int d, const char* file) {
  const bool given = file != nullptr && file[0] != '\0';
  if (IsLoaded(d)) {
    std::memset(xsltFile, 0, sizeof xsltFile);
    // A longer path keeps its first 259 characters, as a reload would.
    if (given) SetField(xsltFile, file);
    useXmlParser = given ? 1 : 0;
  }
  platform_->EditProfile(ConfigPath(d), {}, [&](ProfileDocument& f) {
    f.Set("XML", "USEPARSER", given ? "1" : "0");
    f.Set("XML", "XSLT", given ? file : "");
  });
}

std::uint32_t DataStore::GetTableName(char* buffer, std::uint32_t size) {
  if (device < 0) return 0;
  return CopyOut(TextTableName(device), buffer, size);
}

std::uint32_t DataStore::GetTableNameEx(int d, char* buffer,
                                        std::uint32_t size) {
  return CopyOut(TextTableName(d), buffer, size);
}

std::uint32_t DataStore::GetCreateQuery(int databaseType, char* buffer,
                                        std::uint32_t size) {
  std::optional<std::string> bytes = platform_->ReadPrefix(
      DvFolder() + "/table" + std::to_string(databaseType) + ".sql",
      kScriptBytes);
  if (!bytes || bytes->empty() || device < 0) return 0;
  const std::string name = TextTableName(device);
  if (size <= bytes->size() + name.size()) return 0;
  return CopyOut(ExpandScript(ScriptText(*bytes), {name, name}), buffer, size);
}

std::uint32_t DataStore::GetCreateDatabaseQuery(int databaseType,
                                                const char* databaseName,
                                                char* buffer,
                                                std::uint32_t size) {
  if (databaseType == 1 || databaseName == nullptr || databaseName[0] == '\0')
    return 0;
  std::optional<std::string> bytes = platform_->ReadPrefix(
      DvFolder() + "/db" + std::to_string(databaseType) + ".sql", kScriptBytes);
  if (!bytes || bytes->empty()) return 0;
  const std::string_view name(databaseName);
  if (size <= bytes->size() + 5 * name.size()) return 0;
  return CopyOut(
      ExpandScript(ScriptText(*bytes), {name, name, name, name, name}), buffer,
      size);
}

std::uint32_t DataStore::GetDropQuery(int, char* buffer, std::uint32_t size) {
  if (device < 0) return 0;
  return CopyOut("drop table " + TextTableName(device), buffer, size);
}

}  // namespace quillmore
