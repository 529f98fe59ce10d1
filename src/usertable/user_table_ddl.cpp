#include "usertable/user_table_ddl.h"

#include <functional>

#include "base/ascii.h"
#include "config/record_fields.h"
#include "textsql/table_names.h"

namespace quillmore {
namespace {

using GroupStatement =
    std::function<std::string(std::optional<std::string_view>, UserTableDefs)>;

// A group element: it has children and a name; its group table exists.
bool IsGroup(const _tagUSERTABLEINFO& r, std::string_view name) {
  return r.dwChildLen != 0 && !name.empty();
}

// Main table's statement first (kept only when it fits), then each group's
// statement after a line feed, each left out when it doesn't fit.
std::string AssembleBatch(UserTableDefs defs, std::size_t size,
                          const GroupStatement& statement) {
  std::string out = statement(std::nullopt, defs);
  if (out.size() >= size) out.clear();
  for (const _tagUSERTABLEINFO& r : defs) {
    const std::string_view name = FieldView(r.szElement);
    if (!IsGroup(r, name)) continue;
    const std::string s = statement(name, ChildrenOf(r));
    if (!s.empty() && out.size() + 1 + s.size() < size) {
      out += '\n';
      out += s;
    }
  }
  return out;
}

}  // namespace

UserTableDefs ChildrenOf(const _tagUSERTABLEINFO& record) {
  if (record.pChild == nullptr) return {};
  return UserTableDefs(record.pChild, record.dwChildLen);
}

std::string UserColumnName(std::string_view element) {
  return AsciiLower("f_" + std::string(element));
}

std::string BuildUserCreateStatement(int device, std::uint32_t serial,
                                     int databaseType,
                                     std::optional<std::string_view> group,
                                     UserTableDefs defs) {
  if (databaseType == 0) return {};
  std::string columns;
  for (const _tagUSERTABLEINFO& r : defs) {
    const std::string_view name = FieldView(r.szElement);
    if (r.dwChildLen != 0 || name.empty()) continue;
    columns += ", " + UserColumnName(name) + " varchar(" +
               std::to_string(r.dwFieldLen) + ") NULL";
  }
  if (columns.empty()) return {};
  return "CREATE TABLE " + FormatUserTableName(device, group, serial) +
         (databaseType == 4 ? " (f_id int not null" : " (f_id int NOT NULL") +
         columns + ")";
}

std::string BuildUserDropStatement(int device, std::uint32_t serial,
                                   int databaseType,
                                   std::optional<std::string_view> group) {
  if (databaseType == 0) return {};
  return "drop table [" + FormatUserTableName(device, group, serial) + "]";
}

std::string UserCreateBatch(int device, std::uint32_t serial, int databaseType,
                            UserTableDefs defs, std::size_t size) {
  return AssembleBatch(
      defs, size,
      [&](std::optional<std::string_view> group, UserTableDefs columns) {
        return BuildUserCreateStatement(device, serial, databaseType, group,
                                        columns);
      });
}

std::string UserDropBatch(int device, std::uint32_t serial, int databaseType,
                          UserTableDefs defs, std::size_t size) {
  return AssembleBatch(
      defs, size, [&](std::optional<std::string_view> group, UserTableDefs) {
        return BuildUserDropStatement(device, serial, databaseType, group);
      });
}

std::string UserTableNameList(int device, std::uint32_t serial,
                              UserTableDefs defs, std::size_t size) {
  std::string out = FormatUserTableName(device, std::nullopt, serial);
  if (out.size() >= size) return {};
  for (const _tagUSERTABLEINFO& r : defs) {
    const std::string_view element = FieldView(r.szElement);
    if (!IsGroup(r, element)) continue;
    const std::string name = FormatUserTableName(device, element, serial);
    if (out.size() + name.size() + 1 < size) {
      out += '\n';
      out += name;
    }
  }
  return out;
}

std::string UserTableColumnList(int device, std::uint32_t serial,
                                UserTableDefs defs, std::string_view table,
                                std::size_t size) {
  const bool main_table =
      FormatUserTableName(device, std::nullopt, serial) == table;
  UserTableDefs columns = defs;
  if (!main_table) {
    columns = {};
    for (const _tagUSERTABLEINFO& r : defs) {
      const std::string_view element = FieldView(r.szElement);
      if (IsGroup(r, element) &&
          FormatUserTableName(device, element, serial) == table) {
        columns = ChildrenOf(r);
        break;
      }
    }
  }
  std::string out;
  for (const _tagUSERTABLEINFO& r : columns) {
    const std::string_view element = FieldView(r.szElement);
    if (element.empty() || (main_table && r.dwChildLen != 0)) continue;
    const std::string column = UserColumnName(element);
    // The room for a line feed is counted before the first column too.
    if (column.size() + out.size() + 1 >= size) break;
    if (!out.empty()) out += '\n';
    out += column;
  }
  return out;
}

}  // namespace quillmore
