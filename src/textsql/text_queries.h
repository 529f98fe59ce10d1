// The INSERT, DELETE and SELECT statements over a device's text table and
// its user tables, as plain functions of the table names and the values.
// Caller-supplied values go between single quotes as they are; the caller
// doubles any apostrophe inside them. No I/O, no size limits: the DataStore
// applies the caller's buffer size.
#ifndef QUILLMORE_TEXTSQL_TEXT_QUERIES_H_
#define QUILLMORE_TEXTSQL_TEXT_QUERIES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillmore {

// The names of a list separated by line feeds, empty pieces skipped.
std::vector<std::string_view> SplitNameList(std::string_view list);

// One INSERT of a text record. The save position is written as a signed
// 32-bit number (2^31 and above come out negative).
std::string InsertQuery(std::string_view table, int camera,
                        std::string_view date, std::string_view systemTime,
                        std::string_view text, std::string_view xml,
                        std::string_view savePath, std::uint32_t savePosition);

// DELETEs of the records below `recordNumber`: the text table first, then
// each user table of `userTables` (a line-feed list), its name in brackets.
std::string DeleteByIdBatch(std::string_view table, std::string_view userTables,
                            int recordNumber);

// DELETEs of the records dated before `date`: each user table first (its
// rows chosen through the text table's dates), the text table last.
std::string DeleteByDateBatch(std::string_view table,
                              std::string_view userTables,
                              std::string_view date);

// The SELECT of a date range with every user table joined in, holding two
// "%s" placeholders (lower and upper bound) and nothing else that a
// printf-style expansion would read: a '%' inside a table name is written
// "%%".
std::string SelectTemplate(std::string_view table, std::string_view userTables);

}  // namespace quillmore

#endif  // QUILLMORE_TEXTSQL_TEXT_QUERIES_H_
