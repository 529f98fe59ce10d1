// Any bytes as item-search definitions, search parameters and a record text:
// the SQL builder and the matcher never read outside what they are given,
// whatever the fields hold (no terminators, wild indexes and codes).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "search/record_matcher.h"
#include "search/search_query.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 2) return 0;
  const std::size_t n_items = data[0] % 4;
  const std::size_t n_params = data[1] % 4;
  const std::size_t need = 2 + n_items * sizeof(_tagITEMSEARCHINFO) +
                           n_params * sizeof(_tagSEARCHPARAM);
  if (size < need) return 0;
  // Exact-size heap copies, so a read past either array is caught.
  std::vector<_tagITEMSEARCHINFO> items(n_items);
  std::vector<_tagSEARCHPARAM> params(n_params);
  const std::uint8_t* p = data + 2;
  if (n_items != 0) std::memcpy(items.data(), p, n_items * sizeof items[0]);
  p += n_items * sizeof(_tagITEMSEARCHINFO);
  if (n_params != 0) std::memcpy(params.data(), p, n_params * sizeof params[0]);
  p += n_params * sizeof(_tagSEARCHPARAM);
  const std::string_view record(reinterpret_cast<const char*>(p), size - need);
  const int join = data[0] >> 4;
  (void)quillmore::MatchesSearch(record, params, join, items);
  std::string out;
  quillmore::BuildSearchQuery(out, 100 - (data[1] >> 7), "a", "b", params, join,
                              items, data[1] >> 5, "T m");
  return 0;
}
