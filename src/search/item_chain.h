// What a search parameter applies: the definitions it names. Shared by the
// query builder and the record matcher, which must agree on both.
#ifndef QUILLMORE_SEARCH_ITEM_CHAIN_H_
#define QUILLMORE_SEARCH_ITEM_CHAIN_H_

#include <cstddef>
#include <span>
#include <string_view>

#include "config/record_fields.h"
#include "quillmore/QuillmoreExt.h"

namespace quillmore {

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
