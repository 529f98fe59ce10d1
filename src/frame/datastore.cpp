#include "frame/datastore.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "config/device_file.h"
#include "platform/platform.h"
#include "textsql/table_names.h"
#include "xml/xml_parser.h"

namespace quillmore {

std::uint32_t CopyOut(std::string_view text, char* buffer, std::uint32_t size,
                      CopyRule rule) {
  return CopyOut(std::span<const std::string_view>(&text, 1), buffer, size,
                 rule);
}

std::uint32_t CopyOut(std::span<const std::string_view> pieces, char* buffer,
                      std::uint32_t size, CopyRule rule) {
  if (buffer == nullptr) return 0;
  std::size_t len = 0;
  for (std::string_view piece : pieces) len += piece.size();
  bool fits = false;
  switch (rule) {
    case CopyRule::kTerminated:
      fits = size > len;
      break;
    case CopyRule::kNoTerminator:
      fits = size >= len;
      break;
    case CopyRule::kSignedSize:
      fits = static_cast<std::int64_t>(static_cast<std::int32_t>(size)) >
             static_cast<std::int64_t>(len);
      break;
  }
  if (!fits) return 0;
  // A piece that lies in the part of the buffer being written would be
  // overwritten before it is read: then the pieces are joined first.
  const auto low = reinterpret_cast<std::uintptr_t>(buffer);
  const bool overlap =
      std::any_of(pieces.begin(), pieces.end(), [&](std::string_view piece) {
        const auto at = reinterpret_cast<std::uintptr_t>(piece.data());
        return !piece.empty() && at < low + len && low < at + piece.size();
      });
  if (overlap) {
    std::string joined;
    for (std::string_view piece : pieces) joined += piece;
    std::memcpy(buffer, joined.data(), len);
  } else {
    char* out = buffer;
    for (std::string_view piece : pieces) {
      std::memcpy(out, piece.data(), piece.size());
      out += piece.size();
    }
  }
  if (rule != CopyRule::kNoTerminator) buffer[len] = '\0';
  return static_cast<std::uint32_t>(len);
}

DataStore::DataStore(Platform* platform) : platform_(platform) {
  volumeSerial = platform_->VolumeSerial();
}

// The cached stylesheet is not copied: the copy loads its own on first use.
DataStore::DataStore(const DataStore& other)
    : platform_(other.platform_),
      volumeSerial(other.volumeSerial),
      device(other.device),
      config(other.config ? std::make_unique<DeviceConfig>(*other.config)
                          : nullptr),
      useXmlParser(other.useXmlParser),
      useUserTable(other.useUserTable),
      userTable(other.userTable),
      itemSearch(other.itemSearch),
      textTable_(other.textTable_) {
  std::memcpy(xsltFile, other.xsltFile, sizeof xsltFile);
}

DataStore::~DataStore() { UnloadData(); }

std::string DataStore::DvFolder() {
  return platform_->EnterModuleDirectory() + "/DV";
}

std::string DataStore::ConfigPath(int d) {
  return DvFolder() + "/devdata" + std::to_string(d) + ".ini";
}

std::string DataStore::TextTableName(int d) const {
  return quillmore::TextTableName(d, volumeSerial);
}

int DataStore::LoadedDatabaseType() const {
  return config ? config->databaseType : -1;
}

const ProfileDocument& DataStore::FileOf(int d, Snapshot& file) {
  if (file == nullptr) file = platform_->ReadProfile(ConfigPath(d)).document;
  return *file;
}

int DataStore::DatabaseTypeOf(int d, Snapshot& file) {
  if (IsLoaded(d)) return GetDatabaseType();
  return ReadInt(FileOf(d, file), "GENERAL", "DBTYPE");
}

const UserTableList& DataStore::StoredUserTables(int d, UserTableList& scratch,
                                                 Snapshot& file) {
  scratch.Clear();
  if (IsLoaded(d)) return useUserTable != 0 ? userTable : scratch;
  const ProfileDocument& f = FileOf(d, file);
  if (ReadInt(f, "XML", "USEUSERTABLE") == 0) return scratch;
  scratch = ReadUserTables(f, ReadCount(f, "USERTABLE"));
  return scratch;
}

int DataStore::LoadData(int d) {
  if (device == d) return 1;
  UnloadData();
  // No device has a negative number: nothing to load, and the store stays
  // empty, as its device number says.
  if (d < 0) return 1;
  try {
    Load(d);
    textTable_ = TextTableName(d);
  } catch (...) {
    // Out of memory: nothing stays loaded.
    UnloadData();
    throw;
  }
  return 1;
}

void DataStore::Load(int d) {
  // One snapshot: the load sees a writer's whole transaction or none of it.
  const ProfileSnapshot snapshot = platform_->ReadProfile(ConfigPath(d));
  const ProfileDocument& file = *snapshot.document;
  config = std::make_unique<DeviceConfig>();
  config->useDatabase =
      static_cast<std::uint8_t>(ReadInt(file, "GENERAL", "DATABASE"));
  config->databaseType =
      static_cast<std::uint8_t>(ReadInt(file, "GENERAL", "DBTYPE"));
  if (config->databaseType == 0) {
    device = d;
    return;
  }
  auto text = [&](const char* key) -> std::optional<std::string> {
    std::string v = ReadText(file, "GENERAL", key, 256);
    if (v.empty()) return std::nullopt;
    return v;
  };
  config->databaseServer = text("DBSERVER");
  config->databaseName = text("DBNAME");
  config->databasePath = text("DBPATH");
  config->user = text("USER");
  config->password = text("PWD");

  useXmlParser = static_cast<std::uint32_t>(ReadInt(file, "XML", "USEPARSER"));
  SetField(xsltFile, ReadText(file, "XML", "XSLT", 260));
  useUserTable =
      static_cast<std::uint32_t>(ReadInt(file, "XML", "USEUSERTABLE"));
  if (useUserTable != 0) {
    const std::size_t count = ReadCount(file, "USERTABLE");
    if (count == 0) {
      useUserTable = 0;
    } else {
      userTable = ReadUserTables(file, count);
    }
  }
  const std::size_t items = ReadCount(file, "ITEMSEARCH");
  itemSearch.reserve(items);
  for (std::size_t k = 1; k <= items; ++k) {
    itemSearch.push_back(ReadSearchItem(file, k));
  }
  device = d;
}

void DataStore::UnloadData() {
  config.reset();
  userTable.Clear();
  useXmlParser = 0;
  std::memset(xsltFile, 0, sizeof xsltFile);
  useUserTable = 0;
  transformer.reset();
  itemSearch.clear();
  itemSearch.shrink_to_fit();
  textTable_.clear();
  device = -1;
}

}  // namespace quillmore
