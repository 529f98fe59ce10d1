#include "config/user_table_list.h"

#include <utility>

namespace quillmore {

UserTableList::UserTableList(const UserTableList& other)
    : records_(other.records_), children_(other.children_) {
  Relink();
}

UserTableList& UserTableList::operator=(const UserTableList& other) {
  if (this != &other) {
    records_ = other.records_;
    children_ = other.children_;
    Relink();
  }
  return *this;
}

// Moving a vector keeps its buffer, so the pointers stay valid.
UserTableList::UserTableList(UserTableList&& other) noexcept
    : records_(std::move(other.records_)),
      children_(std::move(other.children_)) {
  other.Clear();
}

UserTableList& UserTableList::operator=(UserTableList&& other) noexcept {
  if (this != &other) {
    records_ = std::move(other.records_);
    children_ = std::move(other.children_);
    other.Clear();
  }
  return *this;
}

void UserTableList::Append(const _tagUSERTABLEINFO& record,
                           std::vector<_tagUSERTABLEINFO> children) {
  for (_tagUSERTABLEINFO& child : children) child.pChild = nullptr;
  records_.push_back(record);
  children_.push_back(std::move(children));
  // Earlier children vectors were moved, not copied, so their pointers hold.
  records_.back().pChild =
      children_.back().empty() ? nullptr : children_.back().data();
}

void UserTableList::Clear() {
  records_.clear();
  children_.clear();
}

void UserTableList::Relink() {
  for (std::size_t i = 0; i < records_.size(); ++i) {
    records_[i].pChild = children_[i].empty() ? nullptr : children_[i].data();
  }
}

}  // namespace quillmore
