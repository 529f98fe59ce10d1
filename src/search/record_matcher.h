// The in-memory test of one record's text against search parameters: the
// keyword-kind definitions (kind 2) look into the raw text; XML and
// user-table definitions count as passed, free-text parameters are not
// looked at. Plain functions over values; nothing here allocates for
// definitions and parameters of the host's field sizes, and every test is
// linear in the text's length.
#ifndef QUILLMORE_SEARCH_RECORD_MATCHER_H_
#define QUILLMORE_SEARCH_RECORD_MATCHER_H_

#include <cstddef>
#include <span>
#include <string_view>

#include "quillmore/QuillmoreExt.h"

namespace quillmore {

// Whether `text` passes the shape test that `split` selects (0: does not
// start with a digit, 1: does not end with one, 2: starts with a digit,
// 3: ends with one; see the .cpp for what is skipped). Other values select
// no test and pass.
bool PassesShapeTest(std::string_view text, int split);

// Whether `record` matches `params` over the device's definitions `items`.
// `join_mode` 0: every tested definition must pass; other: one is enough.
// A parameter naming a definition outside `items` makes the result false.
bool MatchesSearch(std::string_view record,
                   std::span<const _tagSEARCHPARAM> params, int join_mode,
                   std::span<const _tagITEMSEARCHINFO> items);

}  // namespace quillmore

#endif  // QUILLMORE_SEARCH_RECORD_MATCHER_H_
