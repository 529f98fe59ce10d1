// A user-table definition as a host fills one: the name copied into the
// 50-byte field (unterminated when it fills the field) and the children, if
// any, pointed at in place, so they must outlive the record.
#ifndef QUILLMORE_TESTING_USER_TABLE_DEF_H_
#define QUILLMORE_TESTING_USER_TABLE_DEF_H_

#include <cstdint>
#include <string>
#include <vector>

#include "quillmore/QuillmoreExt.h"

namespace quillmore {

using Defs = std::vector<_tagUSERTABLEINFO>;

inline _tagUSERTABLEINFO Def(const std::string& name, std::int32_t len = 0,
                             Defs* children = nullptr) {
  _tagUSERTABLEINFO r{};
  name.copy(r.szElement, sizeof r.szElement);
  r.dwFieldLen = len;
  if (children != nullptr) {
    r.dwChildLen = static_cast<std::uint32_t>(children->size());
    r.pChild = children->data();
  }
  return r;
}

}  // namespace quillmore

#endif  // QUILLMORE_TESTING_USER_TABLE_DEF_H_
