// The SELECT of an item search over one device's text table: a camera, a
// date range and a list of search parameters, each naming a definition of
// the device (an XML value or a user-table column) or asking for free text.
// Plain text in, text out; the caller decides where the definitions come
// from, and passes the string the statement is written into, so that a
// string reused across calls makes building allocate nothing.
#ifndef QUILLMORE_SEARCH_SEARCH_QUERY_H_
#define QUILLMORE_SEARCH_SEARCH_QUERY_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "quillmore/QuillmoreExt.h"

namespace quillmore {

// The SQL operator of a comparison code: 0 "=", 1 ">", 2 ">=", 3 "<",
// 4 "<="; empty for any other code. A value whose code has no operator is
// left out of the statement as if it were empty.
std::string_view ComparisonOperator(std::uint8_t code);

// The whole statement, written into `out` (its content replaced). `camera`
// 100 means all cameras; `join_mode` 0 joins the parameters' clauses with
// "and", any other value with "or"; `database_type` picks the numeric form
// of user-table columns (1: Jet's CDBL, any other: CAST); `text_table` is
// the device's text table name.
// Parameters that name no definition in `items`, and definitions that give
// no condition, are skipped.
void BuildSearchQuery(std::string& out, int camera, std::string_view from,
                      std::string_view to,
                      std::span<const _tagSEARCHPARAM> params, int join_mode,
                      std::span<const _tagITEMSEARCHINFO> items,
                      int database_type, std::string_view text_table);

}  // namespace quillmore

#endif  // QUILLMORE_SEARCH_SEARCH_QUERY_H_
