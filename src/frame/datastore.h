// DataStore: the state behind one CQuillmoreExt. It owns the loaded device's
// configuration, decides for every call between the loaded copy and the
// device's file, and hands text to the caller through CopyOut, the one place
// that applies the buffer-size rules.
//
// Threads: one DataStore is used by one thread at a time.
#ifndef QUILLMORE_FRAME_DATASTORE_H_
#define QUILLMORE_FRAME_DATASTORE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/database_settings.h"
#include "config/user_table_list.h"
#include "quillmore/QuillmoreExt.h"
#include "usertable/user_table_ddl.h"

namespace quillmore {

class Platform;
class ProfileDocument;
class XmlParser;

// How a text result is handed over.
enum class CopyRule {
  kTerminated,    // size > length: text and terminator
  kNoTerminator,  // size >= length: the text's bytes only
  kSignedSize,    // as kTerminated, with size read as a signed 32-bit int
};

// Copies `text` into `buffer` by `rule`; returns the length, or 0 with the
// buffer untouched when it doesn't fit or the buffer is null.
std::uint32_t CopyOut(std::string_view text, char* buffer, std::uint32_t size,
                      CopyRule rule = CopyRule::kTerminated);
// The same for a text given as pieces laid end to end, measured before
// anything is written. A piece may lie inside the buffer itself.
std::uint32_t CopyOut(std::span<const std::string_view> pieces, char* buffer,
                      std::uint32_t size, CopyRule rule);

class DataStore {
 public:
  explicit DataStore(Platform* platform);
  DataStore(const DataStore& other);
  DataStore& operator=(const DataStore&) = delete;
  virtual ~DataStore();

  int LoadData(int device);
  void UnloadData();

  int GetUseDatabase();
  int GetDatabaseType();
  int GetDatabaseTypeEx(int device);
  std::uint32_t GetDatabaseName(char* buffer, std::uint32_t size);
  std::uint32_t GetDatabaseUser(char* buffer, std::uint32_t size);
  std::uint32_t GetDatabasePassword(char* buffer, std::uint32_t size);
  std::uint32_t GetDatabaseServer(char* buffer, std::uint32_t size);
  std::uint32_t GetDatabasePath(char* buffer, std::uint32_t size);
  std::uint32_t GetDatabasePathEx(int device, char* buffer, std::uint32_t size);
  std::uint32_t GetConnectionString(char* buffer, std::uint32_t size);
  void SetUseDatabase(int device, int useDatabase, int databaseType,
                      const char* pathOrServer, const char* databaseName,
                      const char* user, const char* password);
  int CreateDatabase(int device, int askBeforeReplacing, const char* question);

  int GetUseXmlParser(int device);
  int GetXmlParserFile(int device, char* buffer, std::uint32_t size);
  void SetXmlParserFile(int device, const char* xsltFile);

  std::uint32_t GetCreateQuery(int databaseType, char* buffer,
                               std::uint32_t size);
  std::uint32_t GetDropQuery(int databaseType, char* buffer,
                             std::uint32_t size);
  std::uint32_t GetTableName(char* buffer, std::uint32_t size);
  std::uint32_t GetTableNameEx(int device, char* buffer, std::uint32_t size);
  std::uint32_t GetCreateDatabaseQuery(int databaseType,
                                       const char* databaseName, char* buffer,
                                       std::uint32_t size);

  std::uint32_t GetInsertQueryEx(int camera, const char* date,
                                 const char* systemTime, const char* text,
                                 const char* xml, const char* savePath,
                                 std::uint32_t savePosition, char* buffer,
                                 std::uint32_t size);
  std::uint32_t GetDeleteQueryByID(int recordNumber, char* buffer,
                                   std::uint32_t size);
  std::uint32_t GetDeleteQueryByDate(const char* date, char* buffer,
                                     std::uint32_t size);
  std::uint32_t GetSelectQueryByDateTime(const char* from, const char* to,
                                         char* buffer, std::uint32_t size);
  std::uint32_t GetSelectTemplateQuery(char* buffer, std::uint32_t size);

  int GetUseUserTable(int device);
  std::uint32_t GetUserTableElementsCount(int device);
  std::uint32_t GetUserTableElements(int device, _tagUSERTABLEINFO* elements,
                                     std::uint32_t capacity);
  int SetUserTableElements(int device, _tagUSERTABLEINFO* elements,
                           std::uint32_t count);
  int FreeUserTableElements(_tagUSERTABLEINFO* elements, std::uint32_t count);

  std::uint32_t GetUserCreateQueryEx(int device, char* buffer,
                                     std::uint32_t size);
  std::uint32_t GetUserCreateQueryTest(int device, _tagUSERTABLEINFO* elements,
                                       std::uint32_t count, char* buffer,
                                       std::uint32_t size);
  std::uint32_t GetUserDropQueryEx(int device, char* buffer,
                                   std::uint32_t size);
  std::uint32_t GetUserTableNames(int device, char* buffer, std::uint32_t size);
  std::uint32_t GetUserFieldsByTable(int device, const char* tableName,
                                     char* buffer, std::uint32_t size);
  std::uint32_t GetUserTableNamesByElements(int device, char* buffer,
                                            std::uint32_t size,
                                            _tagUSERTABLEINFO* elements,
                                            std::uint32_t count);
  std::uint32_t GetUserDropQueryByElements(int device, char* buffer,
                                           std::uint32_t size,
                                           _tagUSERTABLEINFO* elements,
                                           std::uint32_t count);

  std::uint32_t GetUserInsertQuery(int recordId, const char* xmlText,
                                   char* buffer, std::uint32_t size);
  int ValidateXslt(const char* filePath);

  std::uint32_t GetItemSearchElementsCount(int device);
  int GetItemSearchElementByIndex(int device, std::uint32_t index,
                                  _tagITEMSEARCHINFO* element);
  int SetItemSearchElementByIndex(int device, std::uint32_t index,
                                  _tagITEMSEARCHINFO* element);
  int GetItemSearchElement(int device, _tagITEMSEARCHINFO* elements,
                           std::uint32_t capacity);
  int SetItemSearchElement(int device, _tagITEMSEARCHINFO* elements,
                           std::uint32_t count);
  int DeleteItemSearchElementByIndex(int device, std::uint32_t index);
  int AddItemSearchElement(int device, _tagITEMSEARCHINFO* element);

  std::uint32_t GetSelectQueryByItemIndex(int camera, const char* from,
                                          const char* to,
                                          _tagSEARCHPARAM* params,
                                          std::uint32_t count, int joinMode,
                                          char* buffer, std::uint32_t size);
  int IsValidSearchRecord(const char* record, _tagSEARCHPARAM* params,
                          std::uint32_t count, int joinMode);

 private:
  bool IsLoaded(int d) const { return device >= 0 && device == d; }
  // The body of LoadData: reads device `d`'s file into the empty store.
  void Load(int d);
  // "<module dir>/DV/devdata<N>.ini", looked up afresh (sets the cwd).
  std::string ConfigPath(int d);
  // Device d's file, read into `file` on its first use: an operation reads
  // one snapshot, and none when the loaded copy answers it.
  using Snapshot = std::shared_ptr<const ProfileDocument>;
  const ProfileDocument& FileOf(int d, Snapshot& file);
  // "<module dir>/DV", looked up afresh (sets the cwd).
  std::string DvFolder();
  // The text table name of any device.
  std::string TextTableName(int d) const;
  // The loaded device's database type, -1 without a DeviceConfig.
  int LoadedDatabaseType() const;
  // Database type of any device (GetDatabaseTypeEx).
  int DatabaseTypeOf(int d, Snapshot& file);
  // The device's stored user-table definitions: the cache itself for the
  // loaded device, else read from its file into `scratch`. Empty when user
  // tables are off.
  const UserTableList& StoredUserTables(int d, UserTableList& scratch,
                                        Snapshot& file);
  // A CREATE or DROP batch from the device's stored definitions.
  using BatchBuilder = std::string (*)(int, std::uint32_t, int, UserTableDefs,
                                       std::size_t);
  std::uint32_t StoredBatch(int d, char* buffer, std::uint32_t size,
                            BatchBuilder build);
  // User-table names of the loaded device, one per line, as
  // GetUserTableNames gives them into a buffer of `capacity` bytes.
  std::string LoadedUserTableNames(std::uint32_t capacity);

  Platform* platform_;

  // The loaded state, under the names the rest of the system knows it by.
  std::uint32_t volumeSerial = 0;
  std::int32_t device = -1;
  std::unique_ptr<DeviceConfig> config;
  std::uint32_t useXmlParser = 0;
  char xsltFile[260] = {};
  std::uint32_t useUserTable = 0;
  UserTableList userTable;  // userTableCount is userTable.size()
  std::unique_ptr<XmlParser> transformer;
  std::vector<_tagITEMSEARCHINFO> itemSearch;  // itemSearchCount: size()

  // The loaded device's text table name, formed once per load; empty when
  // nothing is loaded.
  std::string textTable_;
  // The statement being built, reused by every call so that building one
  // allocates nothing once it has grown. Never shared with the host.
  std::string statement_;
};

}  // namespace quillmore

#endif  // QUILLMORE_FRAME_DATASTORE_H_
