// The exported facade: creates its DataStore on first use and forwards.
#include "quillmore/QuillmoreExt.h"

#include "frame/datastore.h"
#include "platform/platform.h"

using quillmore::DataStore;

CQuillmoreExt::CQuillmoreExt() : impl(nullptr) {}

CQuillmoreExt::CQuillmoreExt(const CQuillmoreExt& other)
    : impl(other.impl != nullptr ? new DataStore(*other.impl) : nullptr) {}

CQuillmoreExt& CQuillmoreExt::operator=(const CQuillmoreExt& other) {
  if (this == &other) return *this;
  if (other.impl == nullptr) {
    delete impl;
    impl = nullptr;
  } else if (impl == nullptr) {
    impl = new DataStore(*other.impl);
  } else {
    *impl = *other.impl;
  }
  return *this;
}

CQuillmoreExt::~CQuillmoreExt() { delete impl; }

DataStore* CQuillmoreExt::Store() {
  if (impl == nullptr) impl = new DataStore(quillmore::CurrentPlatform());
  return impl;
}

int CQuillmoreExt::LoadData(int device) {
  return Store()->LoadData(device);
}

void CQuillmoreExt::UnloadData() {
  Store()->UnloadData();
}

int CQuillmoreExt::GetUseDatabase() {
  return Store()->GetUseDatabase();
}

int CQuillmoreExt::GetDatabaseType() {
  return Store()->GetDatabaseType();
}

int CQuillmoreExt::GetDatabaseTypeEx(int device) {
  return Store()->GetDatabaseTypeEx(device);
}

uint32_t CQuillmoreExt::GetDatabaseName(char* buffer, uint32_t size) {
  return Store()->GetDatabaseName(buffer, size);
}

uint32_t CQuillmoreExt::GetDatabaseUser(char* buffer, uint32_t size) {
  return Store()->GetDatabaseUser(buffer, size);
}

uint32_t CQuillmoreExt::GetDatabasePassword(char* buffer, uint32_t size) {
  return Store()->GetDatabasePassword(buffer, size);
}

uint32_t CQuillmoreExt::GetDatabaseServer(char* buffer, uint32_t size) {
  return Store()->GetDatabaseServer(buffer, size);
}

uint32_t CQuillmoreExt::GetDatabasePath(char* buffer, uint32_t size) {
  return Store()->GetDatabasePath(buffer, size);
}

uint32_t CQuillmoreExt::GetDatabasePathEx(int device, char* buffer, uint32_t size) {
  return Store()->GetDatabasePathEx(device, buffer, size);
}

uint32_t CQuillmoreExt::GetConnectionString(char* buffer, uint32_t size) {
  return Store()->GetConnectionString(buffer, size);
}

void CQuillmoreExt::SetUseDatabase(int device, int useDatabase, int databaseType, const char* pathOrServer, const char* databaseName, const char* user, const char* password) {
  Store()->SetUseDatabase(device, useDatabase, databaseType, pathOrServer, databaseName, user, password);
}

int CQuillmoreExt::CreateDatabase(int device, int askBeforeReplacing, const char* question) {
  return Store()->CreateDatabase(device, askBeforeReplacing, question);
}

int CQuillmoreExt::GetUseXmlParser(int device) {
  return Store()->GetUseXmlParser(device);
}

int CQuillmoreExt::GetXmlParserFile(int device, char* buffer, uint32_t size) {
  return Store()->GetXmlParserFile(device, buffer, size);
}

void CQuillmoreExt::SetXmlParserFile(int device, const char* xsltFile) {
  Store()->SetXmlParserFile(device, xsltFile);
}

uint32_t CQuillmoreExt::GetCreateQuery(int databaseType, char* buffer, uint32_t size) {
  return Store()->GetCreateQuery(databaseType, buffer, size);
}

uint32_t CQuillmoreExt::GetDropQuery(int databaseType, char* buffer, uint32_t size) {
  return Store()->GetDropQuery(databaseType, buffer, size);
}

uint32_t CQuillmoreExt::GetTableName(char* buffer, uint32_t size) {
  return Store()->GetTableName(buffer, size);
}

uint32_t CQuillmoreExt::GetTableNameEx(int device, char* buffer, uint32_t size) {
  return Store()->GetTableNameEx(device, buffer, size);
}

uint32_t CQuillmoreExt::GetCreateDatabaseQuery(int databaseType, const char* databaseName, char* buffer, uint32_t size) {
  return Store()->GetCreateDatabaseQuery(databaseType, databaseName, buffer, size);
}

uint32_t CQuillmoreExt::GetInsertQueryEx(int camera, const char* date, const char* systemTime, const char* text, const char* xml, const char* savePath, uint32_t savePosition, char* buffer, uint32_t size) {
  return Store()->GetInsertQueryEx(camera, date, systemTime, text, xml, savePath, savePosition, buffer, size);
}

uint32_t CQuillmoreExt::GetDeleteQueryByID(int recordNumber, char* buffer, uint32_t size) {
  return Store()->GetDeleteQueryByID(recordNumber, buffer, size);
}

uint32_t CQuillmoreExt::GetDeleteQueryByDate(const char* date, char* buffer, uint32_t size) {
  return Store()->GetDeleteQueryByDate(date, buffer, size);
}

uint32_t CQuillmoreExt::GetSelectQueryByDateTime(const char* from, const char* to, char* buffer, uint32_t size) {
  return Store()->GetSelectQueryByDateTime(from, to, buffer, size);
}

uint32_t CQuillmoreExt::GetSelectTemplateQuery(char* buffer, uint32_t size) {
  return Store()->GetSelectTemplateQuery(buffer, size);
}

int CQuillmoreExt::GetUseUserTable(int device) {
  return Store()->GetUseUserTable(device);
}

uint32_t CQuillmoreExt::GetUserTableElementsCount(int device) {
  return Store()->GetUserTableElementsCount(device);
}

uint32_t CQuillmoreExt::GetUserTableElements(int device, _tagUSERTABLEINFO* elements, uint32_t capacity) {
  return Store()->GetUserTableElements(device, elements, capacity);
}

int CQuillmoreExt::SetUserTableElements(int device, _tagUSERTABLEINFO* elements, uint32_t count) {
  return Store()->SetUserTableElements(device, elements, count);
}

int CQuillmoreExt::FreeUserTableElements(_tagUSERTABLEINFO* elements, uint32_t count) {
  return Store()->FreeUserTableElements(elements, count);
}

uint32_t CQuillmoreExt::GetUserCreateQueryEx(int device, char* buffer, uint32_t size) {
  return Store()->GetUserCreateQueryEx(device, buffer, size);
}

uint32_t CQuillmoreExt::GetUserCreateQueryTest(int device, _tagUSERTABLEINFO* elements, uint32_t count, char* buffer, uint32_t size) {
  return Store()->GetUserCreateQueryTest(device, elements, count, buffer, size);
}

uint32_t CQuillmoreExt::GetUserDropQueryEx(int device, char* buffer, uint32_t size) {
  return Store()->GetUserDropQueryEx(device, buffer, size);
}

uint32_t CQuillmoreExt::GetUserTableNames(int device, char* buffer, uint32_t size) {
  return Store()->GetUserTableNames(device, buffer, size);
}

uint32_t CQuillmoreExt::GetUserFieldsByTable(int device, const char* tableName, char* buffer, uint32_t size) {
  return Store()->GetUserFieldsByTable(device, tableName, buffer, size);
}

uint32_t CQuillmoreExt::GetUserTableNamesByElements(int device, char* buffer, uint32_t size, _tagUSERTABLEINFO* elements, uint32_t count) {
  return Store()->GetUserTableNamesByElements(device, buffer, size, elements, count);
}

uint32_t CQuillmoreExt::GetUserDropQueryByElements(int device, char* buffer, uint32_t size, _tagUSERTABLEINFO* elements, uint32_t count) {
  return Store()->GetUserDropQueryByElements(device, buffer, size, elements, count);
}

uint32_t CQuillmoreExt::GetUserInsertQuery(int recordId, const char* xmlText, char* buffer, uint32_t size) {
  return Store()->GetUserInsertQuery(recordId, xmlText, buffer, size);
}

int CQuillmoreExt::ValidateXslt(const char* filePath) {
  return Store()->ValidateXslt(filePath);
}

uint32_t CQuillmoreExt::GetItemSearchElementsCount(int device) {
  return Store()->GetItemSearchElementsCount(device);
}

int CQuillmoreExt::GetItemSearchElementByIndex(int device, uint32_t index, _tagITEMSEARCHINFO* element) {
  return Store()->GetItemSearchElementByIndex(device, index, element);
}

int CQuillmoreExt::SetItemSearchElementByIndex(int device, uint32_t index, _tagITEMSEARCHINFO* element) {
  return Store()->SetItemSearchElementByIndex(device, index, element);
}

int CQuillmoreExt::GetItemSearchElement(int device, _tagITEMSEARCHINFO* elements, uint32_t capacity) {
  return Store()->GetItemSearchElement(device, elements, capacity);
}

int CQuillmoreExt::SetItemSearchElement(int device, _tagITEMSEARCHINFO* elements, uint32_t count) {
  return Store()->SetItemSearchElement(device, elements, count);
}

int CQuillmoreExt::DeleteItemSearchElementByIndex(int device, uint32_t index) {
  return Store()->DeleteItemSearchElementByIndex(device, index);
}

int CQuillmoreExt::AddItemSearchElement(int device, _tagITEMSEARCHINFO* element) {
  return Store()->AddItemSearchElement(device, element);
}

uint32_t CQuillmoreExt::GetSelectQueryByItemIndex(int camera, const char* from, const char* to, _tagSEARCHPARAM* params, uint32_t count, int joinMode, char* buffer, uint32_t size) {
  return Store()->GetSelectQueryByItemIndex(camera, from, to, params, count, joinMode, buffer, size);
}

int CQuillmoreExt::IsValidSearchRecord(const char* record, _tagSEARCHPARAM* params, uint32_t count, int joinMode) {
  return Store()->IsValidSearchRecord(record, params, count, joinMode);
}
