// Builders of item-search records and search parameters for tests.
#ifndef QUILLMORE_SEARCH_TEST_RECORDS_H_
#define QUILLMORE_SEARCH_TEST_RECORDS_H_

#include <cstdint>
#include <cstring>
#include <string_view>

#include "quillmore/QuillmoreExt.h"

namespace quillmore::testing {

// Zero-fills the field and copies `text`; a text as long as the field
// leaves no terminator, as a host may.
template <std::size_t N>
void Put(char (&field)[N], std::string_view text) {
  std::memset(field, 0, N);
  text.copy(field, N);
}

// A definition of `type`; `a` and `b` are its element and attribute (kind
// 0), table and field (kind 1) or keyword and no-keyword (other kinds).
inline _tagITEMSEARCHINFO Def(std::uint8_t type, std::string_view a = "",
                              std::string_view b = "", int find_number = 0,
                              std::string_view defined = "") {
  _tagITEMSEARCHINFO d{};
  d.byType = type;
  d.nSplit = -1;
  d.dwFindNumber = find_number;
  Put(d.szDefinedValue, defined);
  if (type == 1) {
    Put(d.szTable, a);
    Put(d.szField, b);
  } else {
    Put(type == 0 ? d.szElement : d.szKeyword, a);
    Put(type == 0 ? d.szAttribute : d.szNoKeyword, b);
  }
  return d;
}

inline _tagSEARCHPARAM Param(int index, std::string_view v1 = "", int c1 = 0,
                             std::string_view v2 = "", int c2 = 0) {
  _tagSEARCHPARAM p{};
  p.nItemIndex = index;
  p.byCompare1 = static_cast<std::uint8_t>(c1);
  p.byCompare2 = static_cast<std::uint8_t>(c2);
  Put(p.szValue1, v1);
  Put(p.szValue2, v2);
  return p;
}

}  // namespace quillmore::testing

#endif  // QUILLMORE_SEARCH_TEST_RECORDS_H_
