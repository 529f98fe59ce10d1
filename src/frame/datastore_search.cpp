// DataStore: item-search definitions, the search query builder and the
// in-memory record matcher.
//
// Item operations work on the cache for the loaded device (cache first,
// then the file) and on the file alone for any other device. Indexes are
// 0-based; item numbers in the file start at 1.
#include <algorithm>
#include <cstring>
#include <span>
#include <string>

#include "config/device_file.h"
#include "config/identifier.h"
#include "frame/datastore.h"
#include "platform/platform.h"
#include "search/record_matcher.h"
#include "search/search_query.h"

namespace quillmore {

namespace {

constexpr const char* kListSection = "ITEMSEARCH";
constexpr std::uint8_t kHighestKind = 2;

int ItemNumber(std::uint32_t index) { return static_cast<int>(index) + 1; }

}  // namespace

std::uint32_t DataStore::GetItemSearchElementsCount(int d) {
  if (IsLoaded(d)) return static_cast<std::uint32_t>(itemSearch.size());
  return static_cast<std::uint32_t>(
      ReadCount(*platform_, ConfigPath(d), kListSection));
}

int DataStore::GetItemSearchElementByIndex(int d, std::uint32_t index,
                                           _tagITEMSEARCHINFO* element) {
  if (!platform_->IsReadable(element, sizeof *element)) return 0;
  if (IsLoaded(d)) {
    if (index >= itemSearch.size()) return 0;
    *element = itemSearch[index];
    return 1;
  }
  const std::string path = ConfigPath(d);
  if (index >= ReadCount(*platform_, path, kListSection)) return 0;
  *element = ReadSearchItem(*platform_, path, ItemNumber(index));
  return 1;
}

int DataStore::SetItemSearchElementByIndex(int d, std::uint32_t index,
                                           _tagITEMSEARCHINFO* element) {
  if (!platform_->IsReadable(element, sizeof *element)) return 0;
  if (element->byType > kHighestKind) return 0;
  if (!SearchNamesArePlain(*element)) return 0;
  if (IsLoaded(d)) {
    if (index >= itemSearch.size()) return 0;
    itemSearch[index] = *element;
  }
  // The cache change stays even when the file's list turns out shorter.
  const std::string path = ConfigPath(d);
  if (index >= ReadCount(*platform_, path, kListSection)) return 0;
  WriteSearchItem(*platform_, path, ItemNumber(index), *element);
  return 1;
}

int DataStore::GetItemSearchElement(int d, _tagITEMSEARCHINFO* elements,
                                    std::uint32_t capacity) {
  if (!platform_->IsReadable(
          elements, std::size_t{capacity} * sizeof(_tagITEMSEARCHINFO))) {
    return 0;
  }
  if (IsLoaded(d)) {
    if (itemSearch.empty() || itemSearch.size() > capacity) return 0;
    std::memcpy(elements, itemSearch.data(),
                itemSearch.size() * sizeof(_tagITEMSEARCHINFO));
    return 1;
  }
  const std::string path = ConfigPath(d);
  const std::size_t count = ReadCount(*platform_, path, kListSection);
  if (count == 0 || count > capacity) return 0;
  std::memset(elements, 0, std::size_t{capacity} * sizeof(_tagITEMSEARCHINFO));
  for (std::size_t i = 0; i < count; ++i) {
    elements[i] = ReadSearchItem(*platform_, path, static_cast<int>(i) + 1);
  }
  return 1;
}

int DataStore::SetItemSearchElement(int d, _tagITEMSEARCHINFO* elements,
                                    std::uint32_t count) {
  if (elements == nullptr) return 0;
  if (count != 0 &&
      !platform_->IsReadable(elements,
                             std::size_t{count} * sizeof(_tagITEMSEARCHINFO))) {
    return 0;
  }
  // A longer list would read back as empty.
  if (count > static_cast<std::uint32_t>(kMaxDefinitions)) return 0;
  if (!std::all_of(elements, elements + count, SearchNamesArePlain)) return 0;
  if (IsLoaded(d)) itemSearch.assign(elements, elements + count);
  const std::string path = ConfigPath(d);
  platform_->WriteProfileString(path, kListSection, "LEN",
                                std::to_string(count));
  for (std::uint32_t i = 0; i < count; ++i) {
    WriteSearchItem(*platform_, path, ItemNumber(i), elements[i]);
  }
  return 1;
}

int DataStore::DeleteItemSearchElementByIndex(int d, std::uint32_t index) {
  if (IsLoaded(d)) {
    if (index >= itemSearch.size()) return 0;
    itemSearch.erase(itemSearch.begin() + index);
    if (itemSearch.empty()) itemSearch.shrink_to_fit();
  }
  const std::string path = ConfigPath(d);
  const std::size_t count = ReadCount(*platform_, path, kListSection);
  if (index >= count) return 0;
  // Items after the deleted one move forward; the last item's key and
  // section stay in the file, outside the list.
  for (std::size_t k = std::size_t{index} + 1; k < count; ++k) {
    WriteSearchItem(*platform_, path, static_cast<int>(k),
                    ReadSearchItem(*platform_, path, static_cast<int>(k) + 1));
  }
  platform_->WriteProfileString(path, kListSection, "LEN",
                                std::to_string(count - 1));
  return 1;
}

int DataStore::AddItemSearchElement(int d, _tagITEMSEARCHINFO* element) {
  if (!platform_->IsReadable(element, sizeof *element)) return 0;
  if (element->byType > kHighestKind) return 0;
  if (!SearchNamesArePlain(*element)) return 0;
  const std::string path = ConfigPath(d);
  const std::size_t count = ReadCount(*platform_, path, kListSection);
  // One more would make the list read back as empty.
  const std::size_t max = static_cast<std::size_t>(kMaxDefinitions);
  if (count >= max || (IsLoaded(d) && itemSearch.size() >= max)) return 0;
  if (IsLoaded(d)) itemSearch.push_back(*element);
  const std::size_t n = count + 1;
  platform_->WriteProfileString(path, kListSection, "LEN", std::to_string(n));
  WriteSearchItem(*platform_, path, static_cast<int>(n), *element);
  return 1;
}

std::uint32_t DataStore::GetSelectQueryByItemIndex(
    int camera, const char* from, const char* to, _tagSEARCHPARAM* params,
    std::uint32_t count, int joinMode, char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0 || device < 0 || !config) return 0;
  if (from == nullptr || to == nullptr) return 0;
  if (params == nullptr) count = 0;
  if (count != 0 && !platform_->IsReadable(
                        params, std::size_t{count} * sizeof(_tagSEARCHPARAM))) {
    return 0;
  }
  const std::string statement = BuildSearchQuery(
      camera, from, to, std::span<const _tagSEARCHPARAM>(params, count),
      joinMode, itemSearch, LoadedDatabaseType(), TextTableName(device));
  return CopyOut(statement, buffer, size);
}

int DataStore::IsValidSearchRecord(const char* record, _tagSEARCHPARAM* params,
                                   std::uint32_t count, int joinMode) {
  if (record == nullptr || device < 0 || !config) return 0;
  if (params == nullptr) count = 0;
  if (count != 0 && !platform_->IsReadable(
                        params, std::size_t{count} * sizeof(_tagSEARCHPARAM))) {
    return 0;
  }
  return MatchesSearch(record, std::span<const _tagSEARCHPARAM>(params, count),
                       joinMode, itemSearch)
             ? 1
             : 0;
}

}  // namespace quillmore
