// What a search parameter applies: the definitions it names and the text of
// their fixed-size fields. Shared by the query builder and the record
// matcher, which must agree on both.
#ifndef QUILLMORE_SEARCH_ITEM_CHAIN_H_
#define QUILLMORE_SEARCH_ITEM_CHAIN_H_

#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

#include "quillmore/QuillmoreExt.h"

namespace quillmore {

// The text of a char[N] field that the host filled: up to its first zero,
// never past the field (the host may leave out the terminator).
template <std::size_t N>
std::string_view FieldView(const char (&field)[N]) {
  const void* zero = std::memchr(field, '\0', N);
  return std::string_view(
      field, zero == nullptr ? N : static_cast<const char*>(zero) - field);
}

// The definitions applied for the definition at `index`, in order: its
// pre-item (the definition numbered nPreItemId, when above 0 and inside
// `items`) and then the definition itself. The pre-item's own pre-item is
// not followed. `index` must be inside `items`.
struct ItemChain {
  const _tagITEMSEARCHINFO* items[2];
  std::size_t size;
};

inline ItemChain ChainOf(std::span<const _tagITEMSEARCHINFO> items,
                         std::size_t index) {
  const _tagITEMSEARCHINFO& item = items[index];
  if (item.nPreItemId > 0 &&
      static_cast<std::size_t>(item.nPreItemId) <= items.size()) {
    return {{&items[item.nPreItemId - 1], &item}, 2};
  }
  return {{&item, nullptr}, 1};
}

}  // namespace quillmore

#endif  // QUILLMORE_SEARCH_ITEM_CHAIN_H_
