// DataStore: user-table definitions, their names and DDL, and the text
// record queries that cover the user tables.
//
// Child arrays handed to the host by GetUserTableElements are allocated with
// new[] and released by FreeUserTableElements with delete[]; nothing else
// the library allocates ever reaches the host.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "config/device_file.h"
#include "config/identifier.h"
#include "frame/datastore.h"
#include "platform/platform.h"
#include "textsql/script_format.h"
#include "textsql/text_queries.h"
#include "usertable/user_table_ddl.h"

namespace quillmore {
namespace {

// Capacities of the user-table name lists the text queries fetch.
constexpr std::uint32_t kDeleteNamesCapacity = 100;
constexpr std::uint32_t kSelectNamesCapacity = 255;

// The read-access test over `count` records. Both ends are tried first, so
// a wild count fails before the whole range is walked page by page.
bool RecordsReadable(Platform& p, const _tagUSERTABLEINFO* records,
                     std::size_t count) {
  if (records == nullptr) return false;
  if (count == 0) return true;
  const std::size_t bytes = count * sizeof *records;
  const auto last = reinterpret_cast<const void*>(
      reinterpret_cast<std::uintptr_t>(records) + bytes - sizeof *records);
  return p.IsReadable(records, sizeof *records) &&
         p.IsReadable(last, sizeof *records) && p.IsReadable(records, bytes);
}

// A record with its name cut to a terminated 49 characters, as the file
// gives it back. `child_len` is the count the copy keeps.
_tagUSERTABLEINFO Normalized(const _tagUSERTABLEINFO& r,
                             std::uint32_t child_len) {
  _tagUSERTABLEINFO out = r;
  SetField(out.szElement, FieldView(r.szElement));
  out.dwChildLen = child_len;
  out.pChild = nullptr;
  return out;
}

// The children of `r` (tested readable). Stored children have no children
// of their own; for the builders a child keeps its count, so a child that
// is itself a group gives no column, as at the top level.
std::vector<_tagUSERTABLEINFO> ChildrenCopy(const _tagUSERTABLEINFO& r,
                                            bool as_stored) {
  std::vector<_tagUSERTABLEINFO> children;
  if (r.dwChildLen == 0 || r.pChild == nullptr) return children;
  children.reserve(r.dwChildLen);
  for (std::uint32_t j = 0; j < r.dwChildLen; ++j) {
    const _tagUSERTABLEINFO& c = r.pChild[j];
    children.push_back(Normalized(c, as_stored ? 0 : c.dwChildLen));
  }
  return children;
}

// A copy of host-passed definitions (the top-level array already tested)
// that the builders can walk safely: a child array that can't be read is
// dropped, and its group element keeps only its name.
UserTableList CheckedCopy(Platform& p, const _tagUSERTABLEINFO* records,
                          std::size_t count) {
  UserTableList list;
  for (std::size_t i = 0; i < count; ++i) {
    const _tagUSERTABLEINFO& r = records[i];
    const bool children_ok =
        r.dwChildLen != 0 && RecordsReadable(p, r.pChild, r.dwChildLen);
    list.Append(Normalized(r, r.dwChildLen),
                children_ok ? ChildrenCopy(r, false)
                            : std::vector<_tagUSERTABLEINFO>());
  }
  return list;
}

UserTableDefs Defs(const UserTableList& list) {
  return UserTableDefs(list.data(), list.size());
}

// Non-empty names, pairwise different as they will be stored: cut to 49
// characters, so two names that differ only beyond that are the same.
bool NamesValid(const _tagUSERTABLEINFO* records, std::size_t count) {
  std::unordered_set<std::string_view> seen;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view name = StoredView(records[i].szElement);
    if (name.empty() || !seen.insert(name).second) return false;
  }
  return true;
}

}  // namespace

// ---- Definitions ----------------------------------------------------------

int DataStore::GetUseUserTable(int d) {
  return GetUserTableElementsCount(d) != 0 ? 1 : 0;
}

std::uint32_t DataStore::GetUserTableElementsCount(int d) {
  if (IsLoaded(d)) {
    return useUserTable != 0 ? static_cast<std::uint32_t>(userTable.size()) : 0;
  }
  Snapshot file;
  const ProfileDocument& f = FileOf(d, file);
  if (ReadInt(f, "XML", "USEUSERTABLE") == 0) return 0;
  return static_cast<std::uint32_t>(ReadCount(f, "USERTABLE"));
}

std::uint32_t DataStore::GetUserTableElements(int d,
                                              _tagUSERTABLEINFO* elements,
                                              std::uint32_t capacity) {
  UserTableList scratch;
  Snapshot file;
  const UserTableList& list = StoredUserTables(d, scratch, file);
  if (list.empty() || capacity < list.size() ||
      !RecordsReadable(*platform_, elements, capacity)) {
    return 0;
  }
  // Every child array exists before the host's array is touched: when one
  // allocation fails, the ones before it are freed and the array is as it
  // was.
  std::vector<std::unique_ptr<_tagUSERTABLEINFO[]>> children(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list.ChildCount(i) == 0) continue;
    children[i].reset(new _tagUSERTABLEINFO[list.ChildCount(i)]);
    list.Children(i, children[i].get());
  }
  std::memset(elements, 0, capacity * sizeof *elements);
  for (std::size_t i = 0; i < list.size(); ++i) {
    elements[i] = list[i];
    elements[i].dwChildLen = list.ChildCount(i);
    // Released by FreeUserTableElements with delete[].
    elements[i].pChild = children[i].release();
  }
  return static_cast<std::uint32_t>(list.size());
}

int DataStore::SetUserTableElements(int d, _tagUSERTABLEINFO* elements,
                                    std::uint32_t count) {
  Platform& p = *platform_;
  UserTableList list;
  if (elements != nullptr && count != 0) {
    if (!RecordsReadable(p, elements, count)) return 0;
    // Names in order, each group's children right after it: the first
    // failing check decides.
    std::unordered_set<std::string_view> seen;
    for (std::uint32_t i = 0; i < count; ++i) {
      const _tagUSERTABLEINFO& r = elements[i];
      const std::string_view name = StoredView(r.szElement);
      if (name.empty() || !seen.insert(name).second) return 0;
      if (r.dwChildLen != 0 && (!RecordsReadable(p, r.pChild, r.dwChildLen) ||
                                !NamesValid(r.pChild, r.dwChildLen))) {
        return 0;
      }
    }
    // They become table and column names.
    if (!UserTableNamesArePlain(elements, count)) return 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      list.Append(Normalized(elements[i], elements[i].dwChildLen),
                  ChildrenCopy(elements[i], true));
    }
  }
  // The file gets the same cut names the cache keeps, in one transaction.
  p.EditProfile(ConfigPath(d), {}, [&](ProfileDocument& file) {
    WriteUserTables(file, list.data(), list.size());
  });
  if (IsLoaded(d)) {
    useUserTable = list.empty() ? 0 : 1;
    userTable = std::move(list);
  }
  return 1;
}

int DataStore::FreeUserTableElements(_tagUSERTABLEINFO* elements,
                                     std::uint32_t count) {
  if (count == 0 || !RecordsReadable(*platform_, elements, count)) return 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    // Whatever dwChildLen says; the pointer itself is left as it is.
    delete[] elements[i].pChild;
  }
  return 1;
}

// ---- Names and DDL ------------------------------------------------------

std::uint32_t DataStore::StoredBatch(int d, char* buffer, std::uint32_t size,
                                     BatchBuilder build) {
  Snapshot file;
  const int type = DatabaseTypeOf(d, file);
  if (type == 0 || buffer == nullptr || size == 0) return 0;
  UserTableList scratch;
  const UserTableList& list = StoredUserTables(d, scratch, file);
  if (list.empty()) return 0;
  return CopyOut(build(d, volumeSerial, type, Defs(list), size), buffer, size);
}

std::uint32_t DataStore::GetUserCreateQueryEx(int d, char* buffer,
                                              std::uint32_t size) {
  return StoredBatch(d, buffer, size, &UserCreateBatch);
}

std::uint32_t DataStore::GetUserCreateQueryTest(int d,
                                                _tagUSERTABLEINFO* elements,
                                                std::uint32_t count,
                                                char* buffer,
                                                std::uint32_t size) {
  if (buffer == nullptr || size == 0 || count == 0 ||
      !RecordsReadable(*platform_, elements, count)) {
    return 0;
  }
  Snapshot file;
  const int type = DatabaseTypeOf(d, file);
  if (type == 0) return 0;
  const UserTableList list = CheckedCopy(*platform_, elements, count);
  return CopyOut(UserCreateBatch(d, volumeSerial, type, Defs(list), size),
                 buffer, size);
}

std::uint32_t DataStore::GetUserDropQueryEx(int d, char* buffer,
                                            std::uint32_t size) {
  return StoredBatch(d, buffer, size, &UserDropBatch);
}

// Definitions passed here are tested for readability too: a bad array is
// refused with 0 rather than read.
std::uint32_t DataStore::GetUserDropQueryByElements(int d, char* buffer,
                                                    std::uint32_t size,
                                                    _tagUSERTABLEINFO* elements,
                                                    std::uint32_t count) {
  if (buffer == nullptr || size == 0) return 0;
  if (count != 0 && !RecordsReadable(*platform_, elements, count)) return 0;
  Snapshot file;
  const int type = DatabaseTypeOf(d, file);
  if (type == 0) return 0;
  const UserTableList list = CheckedCopy(*platform_, elements, count);
  return CopyOut(UserDropBatch(d, volumeSerial, type, Defs(list), size), buffer,
                 size);
}

std::uint32_t DataStore::GetUserTableNames(int d, char* buffer,
                                           std::uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  UserTableList scratch;
  Snapshot file;
  const UserTableList& list = StoredUserTables(d, scratch, file);
  if (list.empty()) return 0;
  return CopyOut(UserTableNameList(d, volumeSerial, Defs(list), size), buffer,
                 size);
}

std::uint32_t DataStore::GetUserTableNamesByElements(
    int d, char* buffer, std::uint32_t size, _tagUSERTABLEINFO* elements,
    std::uint32_t count) {
  if (buffer == nullptr || size == 0) return 0;
  if (count != 0 && !RecordsReadable(*platform_, elements, count)) return 0;
  const UserTableList list = CheckedCopy(*platform_, elements, count);
  return CopyOut(UserTableNameList(d, volumeSerial, Defs(list), size), buffer,
                 size);
}

std::uint32_t DataStore::GetUserFieldsByTable(int d, const char* tableName,
                                              char* buffer,
                                              std::uint32_t size) {
  if (buffer == nullptr || size == 0 || tableName == nullptr) return 0;
  UserTableList scratch;
  Snapshot file;
  const UserTableList& list = StoredUserTables(d, scratch, file);
  if (list.empty()) return 0;
  return CopyOut(
      UserTableColumnList(d, volumeSerial, Defs(list), tableName, size), buffer,
      size);
}

std::string DataStore::LoadedUserTableNames(std::uint32_t capacity) {
  if (device < 0 || capacity == 0 || GetUseUserTable(device) == 0) return {};
  UserTableList scratch;
  Snapshot unused;  // the loaded device: its file is not read
  const UserTableList& list = StoredUserTables(device, scratch, unused);
  return UserTableNameList(device, volumeSerial, Defs(list), capacity);
}

// ---- Text record queries ------------------------------------------------

std::uint32_t DataStore::GetInsertQueryEx(int camera, const char* date,
                                          const char* systemTime,
                                          const char* text, const char* xml,
                                          const char* savePath,
                                          std::uint32_t savePosition,
                                          char* buffer, std::uint32_t size) {
  if (device < 0 || date == nullptr || systemTime == nullptr ||
      text == nullptr || xml == nullptr || savePath == nullptr) {
    return 0;
  }
  // Straight into the caller's buffer. No terminator: a size equal to the
  // statement's length is enough.
  const InsertStatement insert(textTable_, camera, date, systemTime, text, xml,
                               savePath, savePosition);
  return CopyOut(insert.pieces(), buffer, size, CopyRule::kNoTerminator);
}

std::uint32_t DataStore::GetDeleteQueryByID(int recordNumber, char* buffer,
                                            std::uint32_t size) {
  if (device < 0 || !config || config->databaseType == 0) return 0;
  DeleteByIdBatch(statement_, textTable_,
                  LoadedUserTableNames(kDeleteNamesCapacity), recordNumber);
  return CopyOut(statement_, buffer, size);
}

std::uint32_t DataStore::GetDeleteQueryByDate(const char* date, char* buffer,
                                              std::uint32_t size) {
  if (date == nullptr || device < 0 || !config || config->databaseType == 0)
    return 0;
  DeleteByDateBatch(statement_, textTable_,
                    LoadedUserTableNames(kDeleteNamesCapacity), date);
  return CopyOut(statement_, buffer, size);
}

std::uint32_t DataStore::GetSelectTemplateQuery(char* buffer,
                                                std::uint32_t size) {
  if (buffer == nullptr || size == 0 || !platform_->IsReadable(buffer, size) ||
      device < 0) {
    return 0;
  }
  SelectTemplate(statement_, textTable_,
                 LoadedUserTableNames(kSelectNamesCapacity));
  return CopyOut(statement_, buffer, size);
}

std::uint32_t DataStore::GetSelectQueryByDateTime(const char* from,
                                                  const char* to, char* buffer,
                                                  std::uint32_t size) {
  if (buffer == nullptr || size == 0 || !platform_->IsReadable(buffer, size) ||
      from == nullptr || to == nullptr || device < 0) {
    return 0;
  }
  const std::string_view lower(from), upper(to);
  SelectTemplate(statement_, textTable_,
                 LoadedUserTableNames(kSelectNamesCapacity));
  const std::size_t length = statement_.size();
  // Counted with the template's own placeholders, as the host expects.
  if (std::uint64_t{size} <
      std::uint64_t{length} + lower.size() + upper.size()) {
    return 0;
  }
  // The filled statement goes after the template, which it reads: the room
  // for both is made first, so the template stays in place. Names in the
  // template have any '%' doubled, so only the two bounds are filled in;
  // the result is cut at the expansion limit.
  statement_.reserve(length + kExpansionLimit);
  AppendExpanded(statement_, std::string_view(statement_.data(), length),
                 {lower, upper});
  return CopyOut(std::string_view(statement_).substr(length), buffer, size);
}

}  // namespace quillmore
