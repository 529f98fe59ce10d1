// UserTableList: an owned list of user-table definitions, each group element
// with its own copy of its children. Records hand out pChild pointers into
// the list's own storage, so a copy re-points them at its own children.
//
// A group may keep only some of its children (sparse): those a file gave
// any key for. Its other children are all zero, so they need no storage
// until a host is handed the whole group (Children).
#ifndef QUILLMORE_CONFIG_USER_TABLE_LIST_H_
#define QUILLMORE_CONFIG_USER_TABLE_LIST_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "quillmore/QuillmoreExt.h"

namespace quillmore {

class UserTableList {
 public:
  UserTableList() = default;
  UserTableList(const UserTableList& other);
  UserTableList& operator=(const UserTableList& other);
  UserTableList(UserTableList&& other) noexcept;
  UserTableList& operator=(UserTableList&& other) noexcept;

  // Appends one record with all of its children. Counts are kept as the
  // caller set them; no child keeps a child array of its own.
  void Append(const _tagUSERTABLEINFO& record,
              std::vector<_tagUSERTABLEINFO> children);
  // Appends a group of record.dwChildLen children of which only `children`
  // are kept, at `positions` (from 0, ascending, below the count).
  void AppendSparse(const _tagUSERTABLEINFO& record,
                    std::vector<_tagUSERTABLEINFO> children,
                    std::vector<std::uint32_t> positions);
  void Clear();

  std::size_t size() const { return records_.size(); }
  bool empty() const { return records_.empty(); }
  // The records as the statement builders read them: a group's pChild and
  // dwChildLen cover its kept children; a group without any keeps its
  // count and a null pChild (a group without columns). Children that are
  // not kept have no name, so no builder would use them.
  const _tagUSERTABLEINFO* data() const { return records_.data(); }
  const _tagUSERTABLEINFO& operator[](std::size_t i) const {
    return records_[i];
  }
  // Record i's number of children as a host sees it.
  std::uint32_t ChildCount(std::size_t i) const { return counts_[i]; }
  // Writes record i's ChildCount(i) children to `out`, zero where none is
  // kept.
  void Children(std::size_t i, _tagUSERTABLEINFO* out) const;

 private:
  void Relink();

  std::vector<_tagUSERTABLEINFO> records_;
  std::vector<std::uint32_t> counts_;
  std::vector<std::vector<_tagUSERTABLEINFO>> children_;
  // Where each kept child stands; empty when all are kept.
  std::vector<std::vector<std::uint32_t>> positions_;
};

}  // namespace quillmore

#endif  // QUILLMORE_CONFIG_USER_TABLE_LIST_H_
