// UserTableList: an owned list of user-table definitions, each group element
// with its own copy of its children. Records hand out pChild pointers into
// the list's own storage, so a copy re-points them at its own children.
#ifndef QUILLMORE_CONFIG_USER_TABLE_LIST_H_
#define QUILLMORE_CONFIG_USER_TABLE_LIST_H_

#include <cstddef>
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

  // Appends one record with the given children. Counts are kept as the
  // caller set them; no child keeps a child array of its own.
  void Append(const _tagUSERTABLEINFO& record,
              std::vector<_tagUSERTABLEINFO> children);
  void Clear();

  std::size_t size() const { return records_.size(); }
  bool empty() const { return records_.empty(); }
  const _tagUSERTABLEINFO* data() const { return records_.data(); }
  const _tagUSERTABLEINFO& operator[](std::size_t i) const {
    return records_[i];
  }

 private:
  void Relink();

  std::vector<_tagUSERTABLEINFO> records_;
  std::vector<std::vector<_tagUSERTABLEINFO>> children_;
};

}  // namespace quillmore

#endif  // QUILLMORE_CONFIG_USER_TABLE_LIST_H_
