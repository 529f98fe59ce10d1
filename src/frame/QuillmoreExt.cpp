// The exported facade: creates its DataStore on first use and forwards.
// No exception leaves an exported method: one raised inside (only memory
// exhaustion can raise one) becomes the method's failure result here, at
// the library's one exception barrier. Nothing inside the library catches
// an exception to turn it into a result; code that must undo something on
// the way out catches and rethrows.
#include "quillmore/QuillmoreExt.h"

#include "frame/datastore.h"
#include "platform/platform.h"

using quillmore::DataStore;

namespace {

// Runs an exported method's body; an exception becomes `failure`.
template <typename R, typename F>
R Barrier(R failure, F&& call) noexcept {
  try {
    return call();
  } catch (...) {
    return failure;
  }
}

template <typename F>
void Barrier(F&& call) noexcept {
  try {
    call();
  } catch (...) {
  }
}

// A copy of `other`'s store, or none when `other` has none or the copy
// fails: a failed copy leaves an empty facade.
DataStore* CopyOf(const DataStore* other) noexcept {
  if (other == nullptr) return nullptr;
  return Barrier<DataStore*>(nullptr, [&] { return new DataStore(*other); });
}

}  // namespace

CQuillmoreExt::CQuillmoreExt() : impl(nullptr) {}

CQuillmoreExt::CQuillmoreExt(const CQuillmoreExt& other)
    : impl(CopyOf(other.impl)) {}

CQuillmoreExt& CQuillmoreExt::operator=(const CQuillmoreExt& other) {
  if (this != &other) {
    DataStore* copy = CopyOf(other.impl);
    delete impl;
    impl = copy;
  }
  return *this;
}

CQuillmoreExt::~CQuillmoreExt() { delete impl; }

DataStore* CQuillmoreExt::Store() {
  if (impl == nullptr) impl = new DataStore(quillmore::CurrentPlatform());
  return impl;
}

int CQuillmoreExt::LoadData(int device) {
  return Barrier<int>(0, [&] { return Store()->LoadData(device); });
}

void CQuillmoreExt::UnloadData() {
  Barrier([&] { Store()->UnloadData(); });
}

int CQuillmoreExt::GetUseDatabase() {
  return Barrier<int>(-1, [&] { return Store()->GetUseDatabase(); });
}

int CQuillmoreExt::GetDatabaseType() {
  return Barrier<int>(-1, [&] { return Store()->GetDatabaseType(); });
}

int CQuillmoreExt::GetDatabaseTypeEx(int device) {
  return Barrier<int>(0, [&] { return Store()->GetDatabaseTypeEx(device); });
}

uint32_t CQuillmoreExt::GetDatabaseName(char* buffer, uint32_t size) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetDatabaseName(buffer, size); });
}

uint32_t CQuillmoreExt::GetDatabaseUser(char* buffer, uint32_t size) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetDatabaseUser(buffer, size); });
}

uint32_t CQuillmoreExt::GetDatabasePassword(char* buffer, uint32_t size) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetDatabasePassword(buffer, size); });
}

uint32_t CQuillmoreExt::GetDatabaseServer(char* buffer, uint32_t size) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetDatabaseServer(buffer, size); });
}

uint32_t CQuillmoreExt::GetDatabasePath(char* buffer, uint32_t size) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetDatabasePath(buffer, size); });
}

uint32_t CQuillmoreExt::GetDatabasePathEx(int device, char* buffer,
                                          uint32_t size) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetDatabasePathEx(device, buffer, size); });
}

uint32_t CQuillmoreExt::GetConnectionString(char* buffer, uint32_t size) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetConnectionString(buffer, size); });
}

void CQuillmoreExt::SetUseDatabase(int device, int useDatabase,
                                   int databaseType, const char* pathOrServer,
                                   const char* databaseName, const char* user,
                                   const char* password) {
  Barrier([&] {
    Store()->SetUseDatabase(device, useDatabase, databaseType, pathOrServer,
                            databaseName, user, password);
  });
}

int CQuillmoreExt::CreateDatabase(int device, int askBeforeReplacing,
                                  const char* question) {
  return Barrier<int>(0, [&] {
    return Store()->CreateDatabase(device, askBeforeReplacing, question);
  });
}

int CQuillmoreExt::GetUseXmlParser(int device) {
  return Barrier<int>(0, [&] { return Store()->GetUseXmlParser(device); });
}

int CQuillmoreExt::GetXmlParserFile(int device, char* buffer, uint32_t size) {
  return Barrier<int>(
      0, [&] { return Store()->GetXmlParserFile(device, buffer, size); });
}

void CQuillmoreExt::SetXmlParserFile(int device, const char* xsltFile) {
  Barrier([&] { Store()->SetXmlParserFile(device, xsltFile); });
}

uint32_t CQuillmoreExt::GetCreateQuery(int databaseType, char* buffer,
                                       uint32_t size) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetCreateQuery(databaseType, buffer, size); });
}

uint32_t CQuillmoreExt::GetDropQuery(int databaseType, char* buffer,
                                     uint32_t size) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetDropQuery(databaseType, buffer, size); });
}

uint32_t CQuillmoreExt::GetTableName(char* buffer, uint32_t size) {
  return Barrier<uint32_t>(0,
                           [&] { return Store()->GetTableName(buffer, size); });
}

uint32_t CQuillmoreExt::GetTableNameEx(int device, char* buffer,
                                       uint32_t size) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetTableNameEx(device, buffer, size); });
}

uint32_t CQuillmoreExt::GetCreateDatabaseQuery(int databaseType,
                                               const char* databaseName,
                                               char* buffer, uint32_t size) {
  return Barrier<uint32_t>(0, [&] {
    return Store()->GetCreateDatabaseQuery(databaseType, databaseName, buffer,
                                           size);
  });
}

uint32_t CQuillmoreExt::GetInsertQueryEx(int camera, const char* date,
                                         const char* systemTime,
                                         const char* text, const char* xml,
                                         const char* savePath,
                                         uint32_t savePosition, char* buffer,
                                         uint32_t size) {
  return Barrier<uint32_t>(0, [&] {
    return Store()->GetInsertQueryEx(camera, date, systemTime, text, xml,
                                     savePath, savePosition, buffer, size);
  });
}

uint32_t CQuillmoreExt::GetDeleteQueryByID(int recordNumber, char* buffer,
                                           uint32_t size) {
  return Barrier<uint32_t>(0, [&] {
    return Store()->GetDeleteQueryByID(recordNumber, buffer, size);
  });
}

uint32_t CQuillmoreExt::GetDeleteQueryByDate(const char* date, char* buffer,
                                             uint32_t size) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetDeleteQueryByDate(date, buffer, size); });
}

uint32_t CQuillmoreExt::GetSelectQueryByDateTime(const char* from,
                                                 const char* to, char* buffer,
                                                 uint32_t size) {
  return Barrier<uint32_t>(0, [&] {
    return Store()->GetSelectQueryByDateTime(from, to, buffer, size);
  });
}

uint32_t CQuillmoreExt::GetSelectTemplateQuery(char* buffer, uint32_t size) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetSelectTemplateQuery(buffer, size); });
}

int CQuillmoreExt::GetUseUserTable(int device) {
  return Barrier<int>(0, [&] { return Store()->GetUseUserTable(device); });
}

uint32_t CQuillmoreExt::GetUserTableElementsCount(int device) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetUserTableElementsCount(device); });
}

uint32_t CQuillmoreExt::GetUserTableElements(int device,
                                             _tagUSERTABLEINFO* elements,
                                             uint32_t capacity) {
  return Barrier<uint32_t>(0, [&] {
    return Store()->GetUserTableElements(device, elements, capacity);
  });
}

int CQuillmoreExt::SetUserTableElements(int device, _tagUSERTABLEINFO* elements,
                                        uint32_t count) {
  return Barrier<int>(0, [&] {
    return Store()->SetUserTableElements(device, elements, count);
  });
}

int CQuillmoreExt::FreeUserTableElements(_tagUSERTABLEINFO* elements,
                                         uint32_t count) {
  return Barrier<int>(
      0, [&] { return Store()->FreeUserTableElements(elements, count); });
}

uint32_t CQuillmoreExt::GetUserCreateQueryEx(int device, char* buffer,
                                             uint32_t size) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetUserCreateQueryEx(device, buffer, size); });
}

uint32_t CQuillmoreExt::GetUserCreateQueryTest(int device,
                                               _tagUSERTABLEINFO* elements,
                                               uint32_t count, char* buffer,
                                               uint32_t size) {
  return Barrier<uint32_t>(0, [&] {
    return Store()->GetUserCreateQueryTest(device, elements, count, buffer,
                                           size);
  });
}

uint32_t CQuillmoreExt::GetUserDropQueryEx(int device, char* buffer,
                                           uint32_t size) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetUserDropQueryEx(device, buffer, size); });
}

uint32_t CQuillmoreExt::GetUserTableNames(int device, char* buffer,
                                          uint32_t size) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetUserTableNames(device, buffer, size); });
}

uint32_t CQuillmoreExt::GetUserFieldsByTable(int device, const char* tableName,
                                             char* buffer, uint32_t size) {
  return Barrier<uint32_t>(0, [&] {
    return Store()->GetUserFieldsByTable(device, tableName, buffer, size);
  });
}

uint32_t CQuillmoreExt::GetUserTableNamesByElements(int device, char* buffer,
                                                    uint32_t size,
                                                    _tagUSERTABLEINFO* elements,
                                                    uint32_t count) {
  return Barrier<uint32_t>(0, [&] {
    return Store()->GetUserTableNamesByElements(device, buffer, size, elements,
                                                count);
  });
}

uint32_t CQuillmoreExt::GetUserDropQueryByElements(int device, char* buffer,
                                                   uint32_t size,
                                                   _tagUSERTABLEINFO* elements,
                                                   uint32_t count) {
  return Barrier<uint32_t>(0, [&] {
    return Store()->GetUserDropQueryByElements(device, buffer, size, elements,
                                               count);
  });
}

uint32_t CQuillmoreExt::GetUserInsertQuery(int recordId, const char* xmlText,
                                           char* buffer, uint32_t size) {
  return Barrier<uint32_t>(0, [&] {
    return Store()->GetUserInsertQuery(recordId, xmlText, buffer, size);
  });
}

int CQuillmoreExt::ValidateXslt(const char* filePath) {
  return Barrier<int>(0, [&] { return Store()->ValidateXslt(filePath); });
}

uint32_t CQuillmoreExt::GetItemSearchElementsCount(int device) {
  return Barrier<uint32_t>(
      0, [&] { return Store()->GetItemSearchElementsCount(device); });
}

int CQuillmoreExt::GetItemSearchElementByIndex(int device, uint32_t index,
                                               _tagITEMSEARCHINFO* element) {
  return Barrier<int>(0, [&] {
    return Store()->GetItemSearchElementByIndex(device, index, element);
  });
}

int CQuillmoreExt::SetItemSearchElementByIndex(int device, uint32_t index,
                                               _tagITEMSEARCHINFO* element) {
  return Barrier<int>(0, [&] {
    return Store()->SetItemSearchElementByIndex(device, index, element);
  });
}

int CQuillmoreExt::GetItemSearchElement(int device,
                                        _tagITEMSEARCHINFO* elements,
                                        uint32_t capacity) {
  return Barrier<int>(0, [&] {
    return Store()->GetItemSearchElement(device, elements, capacity);
  });
}

int CQuillmoreExt::SetItemSearchElement(int device,
                                        _tagITEMSEARCHINFO* elements,
                                        uint32_t count) {
  return Barrier<int>(0, [&] {
    return Store()->SetItemSearchElement(device, elements, count);
  });
}

int CQuillmoreExt::DeleteItemSearchElementByIndex(int device, uint32_t index) {
  return Barrier<int>(0, [&] {
    return Store()->DeleteItemSearchElementByIndex(device, index);
  });
}

int CQuillmoreExt::AddItemSearchElement(int device,
                                        _tagITEMSEARCHINFO* element) {
  return Barrier<int>(
      0, [&] { return Store()->AddItemSearchElement(device, element); });
}

uint32_t CQuillmoreExt::GetSelectQueryByItemIndex(int camera, const char* from,
                                                  const char* to,
                                                  _tagSEARCHPARAM* params,
                                                  uint32_t count, int joinMode,
                                                  char* buffer, uint32_t size) {
  return Barrier<uint32_t>(0, [&] {
    return Store()->GetSelectQueryByItemIndex(camera, from, to, params, count,
                                              joinMode, buffer, size);
  });
}

int CQuillmoreExt::IsValidSearchRecord(const char* record,
                                       _tagSEARCHPARAM* params, uint32_t count,
                                       int joinMode) {
  return Barrier<int>(0, [&] {
    return Store()->IsValidSearchRecord(record, params, count, joinMode);
  });
}
