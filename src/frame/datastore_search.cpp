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

std::size_t ItemNumber(std::uint32_t index) { return std::size_t{index} + 1; }

}  // namespace

std::uint32_t DataStore::GetItemSearchElementsCount(int d) {
  if (IsLoaded(d)) return static_cast<std::uint32_t>(itemSearch.size());
  Snapshot file;
  return static_cast<std::uint32_t>(ReadCount(FileOf(d, file), kListSection));
}

int DataStore::GetItemSearchElementByIndex(int d, std::uint32_t index,
                                           _tagITEMSEARCHINFO* element) {
  if (!platform_->IsReadable(element, sizeof *element)) return 0;
  if (IsLoaded(d)) {
    if (index >= itemSearch.size()) return 0;
    *element = itemSearch[index];
    return 1;
  }
  Snapshot file;
  const ProfileDocument& f = FileOf(d, file);
  if (index >= ReadCount(f, kListSection)) return 0;
  *element = ReadSearchItem(f, ItemNumber(index));
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
  int result = 0;
  platform_->EditProfile(ConfigPath(d), {}, [&](ProfileDocument& file) {
    if (index >= ReadCount(file, kListSection)) return;
    WriteSearchItem(file, ItemNumber(index), *element);
    result = 1;
  });
  return result;
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
  Snapshot file;
  const ProfileDocument& f = FileOf(d, file);
  const std::size_t count = ReadCount(f, kListSection);
  if (count == 0 || count > capacity) return 0;
  std::memset(elements, 0, std::size_t{capacity} * sizeof(_tagITEMSEARCHINFO));
  for (std::size_t i = 0; i < count; ++i) {
    elements[i] = ReadSearchItem(f, i + 1);
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
  platform_->EditProfile(ConfigPath(d), {}, [&](ProfileDocument& file) {
    file.Set(kListSection, "LEN", std::to_string(count));
    for (std::uint32_t i = 0; i < count; ++i) {
      WriteSearchItem(file, ItemNumber(i), elements[i]);
    }
  });
  return 1;
}

int DataStore::DeleteItemSearchElementByIndex(int d, std::uint32_t index) {
  if (IsLoaded(d)) {
    if (index >= itemSearch.size()) return 0;
    itemSearch.erase(itemSearch.begin() + index);
    if (itemSearch.empty()) itemSearch.shrink_to_fit();
  }
  int result = 0;
  platform_->EditProfile(ConfigPath(d), {}, [&](ProfileDocument& file) {
    const std::size_t count = ReadCount(file, kListSection);
    if (index >= count) return;
    // Items after the deleted one move forward; the last item's key and
    // section stay in the file, outside the list.
    for (std::size_t k = std::size_t{index} + 1; k < count; ++k) {
      WriteSearchItem(file, k, ReadSearchItem(file, k + 1));
    }
    file.Set(kListSection, "LEN", std::to_string(count - 1));
    result = 1;
  });
  return result;
}

int DataStore::AddItemSearchElement(int d, _tagITEMSEARCHINFO* element) {
  if (!platform_->IsReadable(element, sizeof *element)) return 0;
  if (element->byType > kHighestKind) return 0;
  if (!SearchNamesArePlain(*element)) return 0;
  // One more would make the list read back as empty.
  const std::size_t max = static_cast<std::size_t>(kMaxDefinitions);
  const bool loaded = IsLoaded(d);
  if (loaded && itemSearch.size() >= max) return 0;
  // Room first, so the cache can follow the file without failing.
  if (loaded && itemSearch.size() == itemSearch.capacity())
    itemSearch.reserve(std::max<std::size_t>(8, 2 * itemSearch.size()));
  int result = 0;
  // The count is read in the same transaction that writes the item after it.
  platform_->EditProfile(ConfigPath(d), {}, [&](ProfileDocument& file) {
    const std::size_t n = ReadCount(file, kListSection) + 1;
    if (n > max) return;
    file.Set(kListSection, "LEN", std::to_string(n));
    WriteSearchItem(file, n, *element);
    result = 1;
  });
  if (result != 0 && loaded) itemSearch.push_back(*element);
  return result;
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
  BuildSearchQuery(statement_, camera, from, to,
                   std::span<const _tagSEARCHPARAM>(params, count), joinMode,
                   itemSearch, LoadedDatabaseType(), textTable_);
  return CopyOut(statement_, buffer, size);
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
