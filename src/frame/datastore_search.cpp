// DataStore: item-search definitions, the search query builder and the
// in-memory record matcher.
#include "frame/datastore.h"

namespace quillmore {

std::uint32_t DataStore::GetItemSearchElementsCount(int) { return 0; }
int DataStore::GetItemSearchElementByIndex(int, std::uint32_t,
                                           _tagITEMSEARCHINFO*) {
  return 0;
}
int DataStore::SetItemSearchElementByIndex(int, std::uint32_t,
                                           _tagITEMSEARCHINFO*) {
  return 0;
}
int DataStore::GetItemSearchElement(int, _tagITEMSEARCHINFO*, std::uint32_t) {
  return 0;
}
int DataStore::SetItemSearchElement(int, _tagITEMSEARCHINFO*, std::uint32_t) {
  return 0;
}
int DataStore::DeleteItemSearchElementByIndex(int, std::uint32_t) { return 0; }
int DataStore::AddItemSearchElement(int, _tagITEMSEARCHINFO*) { return 0; }

std::uint32_t DataStore::GetSelectQueryByItemIndex(int, const char*,
                                                   const char*,
                                                   _tagSEARCHPARAM*,
                                                   std::uint32_t, int, char*,
                                                   std::uint32_t) {
  return 0;
}
int DataStore::IsValidSearchRecord(const char*, _tagSEARCHPARAM*,
                                   std::uint32_t, int) {
  return 0;
}

}  // namespace quillmore
