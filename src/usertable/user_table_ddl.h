// Names, columns and DDL of a device's user tables, as plain functions of the
// device number, the volume serial, the database type and the definitions.
// No I/O; the DataStore decides where the definitions come from and copies
// the results into the caller's buffer.
//
// Definitions: each record's szElement is read without assuming a
// terminator. A record with a nonzero dwChildLen must have pChild null or
// pointing to dwChildLen readable records; a null pChild counts as a group
// without columns (the group still has a name and a DROP statement).
//
// `size` is the caller's buffer size. Entries of a batch or list are left
// out when they don't fit, so every result is either empty or shorter than
// `size` and can be copied with its terminator.
#ifndef QUILLMORE_USERTABLE_USER_TABLE_DDL_H_
#define QUILLMORE_USERTABLE_USER_TABLE_DDL_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "quillmore/QuillmoreExt.h"

namespace quillmore {

using UserTableDefs = std::span<const _tagUSERTABLEINFO>;

// The children of a group element (empty when pChild is null).
UserTableDefs ChildrenOf(const _tagUSERTABLEINFO& record);

// "f_<element>", all lower case.
std::string UserColumnName(std::string_view element);

// One CREATE TABLE for the main user table (no group) or a group table,
// with a column for every definition that has no children and a name.
// Empty for database type 0 or when no definition gives a column.
// Type 4 (MySQL) writes "not null" after f_id; every other nonzero type
// writes "NOT NULL".
std::string BuildUserCreateStatement(int device, std::uint32_t serial,
                                     int databaseType,
                                     std::optional<std::string_view> group,
                                     UserTableDefs defs);

// "drop table [<name>]"; empty for database type 0.
std::string BuildUserDropStatement(int device, std::uint32_t serial,
                                   int databaseType,
                                   std::optional<std::string_view> group);

// The CREATE batch: the main table's statement when it fits, then a line
// feed and the statement of each group element that fits. When the main
// table has no statement the batch begins with a line feed.
std::string UserCreateBatch(int device, std::uint32_t serial, int databaseType,
                            UserTableDefs defs, std::size_t size);

// The DROP batch, in the same order and under the same fitting rules.
std::string UserDropBatch(int device, std::uint32_t serial, int databaseType,
                          UserTableDefs defs, std::size_t size);

// The main table's name, then a line feed and the name of each group
// element that fits. Empty when the main name doesn't fit: no further name
// is tried then.
std::string UserTableNameList(int device, std::uint32_t serial,
                              UserTableDefs defs, std::size_t size);

// The column names of the user table called `table` (compared byte-wise,
// case-sensitively), one per line, f_id not included. The list ends at the
// first column that doesn't fit. Empty for an unknown table.
std::string UserTableColumnList(int device, std::uint32_t serial,
                                UserTableDefs defs, std::string_view table,
                                std::size_t size);

}  // namespace quillmore

#endif  // QUILLMORE_USERTABLE_USER_TABLE_DDL_H_
