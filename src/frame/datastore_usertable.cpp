// DataStore: user-table definitions, their names and DDL, and the text
// record queries that cover the user tables.
#include "frame/datastore.h"

namespace quillmore {

int DataStore::GetUseUserTable(int) { return 0; }
std::uint32_t DataStore::GetUserTableElementsCount(int) { return 0; }
std::uint32_t DataStore::GetUserTableElements(int, _tagUSERTABLEINFO*,
                                              std::uint32_t) {
  return 0;
}
int DataStore::SetUserTableElements(int, _tagUSERTABLEINFO*, std::uint32_t) {
  return 0;
}
int DataStore::FreeUserTableElements(_tagUSERTABLEINFO*, std::uint32_t) {
  return 0;
}
std::uint32_t DataStore::GetUserCreateQueryEx(int, char*, std::uint32_t) {
  return 0;
}
std::uint32_t DataStore::GetUserCreateQueryTest(int, _tagUSERTABLEINFO*,
                                                std::uint32_t, char*,
                                                std::uint32_t) {
  return 0;
}
std::uint32_t DataStore::GetUserDropQueryEx(int, char*, std::uint32_t) {
  return 0;
}
std::uint32_t DataStore::GetUserTableNames(int, char*, std::uint32_t) {
  return 0;
}
std::uint32_t DataStore::GetUserFieldsByTable(int, const char*, char*,
                                              std::uint32_t) {
  return 0;
}
std::uint32_t DataStore::GetUserTableNamesByElements(int, char*, std::uint32_t,
                                                     _tagUSERTABLEINFO*,
                                                     std::uint32_t) {
  return 0;
}
std::uint32_t DataStore::GetUserDropQueryByElements(int, char*, std::uint32_t,
                                                    _tagUSERTABLEINFO*,
                                                    std::uint32_t) {
  return 0;
}
std::string DataStore::LoadedUserTableNames(std::uint32_t) { return {}; }

std::uint32_t DataStore::GetInsertQueryEx(int, const char*, const char*,
                                          const char*, const char*,
                                          const char*, std::uint32_t, char*,
                                          std::uint32_t) {
  return 0;
}
std::uint32_t DataStore::GetDeleteQueryByID(int, char*, std::uint32_t) {
  return 0;
}
std::uint32_t DataStore::GetDeleteQueryByDate(const char*, char*,
                                              std::uint32_t) {
  return 0;
}
std::uint32_t DataStore::GetSelectQueryByDateTime(const char*, const char*,
                                                  char*, std::uint32_t) {
  return 0;
}
std::uint32_t DataStore::GetSelectTemplateQuery(char*, std::uint32_t) {
  return 0;
}

}  // namespace quillmore
