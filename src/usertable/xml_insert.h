// The INSERT statements that put one XML record's values into a device's
// user tables: one row of the main user table, with a column for every
// plain definition, and one row of a group table for every occurrence of
// its group element that carries at least one configured attribute.
#ifndef QUILLMORE_USERTABLE_XML_INSERT_H_
#define QUILLMORE_USERTABLE_XML_INSERT_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "quillmore/QuillmoreExt.h"

namespace quillmore {

class XmlParser;

// `value` as a SQL string literal: between single quotes, every quote
// doubled; for MySQL (database type 4), whose literals treat a backslash as
// an escape, every backslash doubled too. So no value ends the literal
// early, and the stored value is the value given.
std::string QuoteSqlValue(std::string_view value, int databaseType);

// The statements, separated by single line feeds, in definition order: the
// main user table's first (when any plain definition exists, even if none
// of its elements occurs), then each group element's rows in document
// order, their columns in the order of the attributes in the document.
// `content` holds the record's document (LoadText done); its lookups that
// fail give empty values or no rows. Empty when no statement was made.
std::string BuildUserInsertQuery(std::span<const _tagUSERTABLEINFO> definitions,
                                 XmlParser& content, int device,
                                 std::uint32_t serial, int databaseType,
                                 int recordId);

}  // namespace quillmore

#endif  // QUILLMORE_USERTABLE_XML_INSERT_H_
