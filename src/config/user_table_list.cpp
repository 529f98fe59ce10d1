#include "config/user_table_list.h"

#include <algorithm>
#include <utility>

namespace quillmore {
namespace {

// Room for one more element, growing geometrically as push_back would.
template <typename T>
void RoomForOne(std::vector<T>& v) {
  if (v.size() == v.capacity()) v.reserve(v.empty() ? 8 : 2 * v.size());
}

}  // namespace

UserTableList::UserTableList(const UserTableList& other)
    : records_(other.records_),
      counts_(other.counts_),
      children_(other.children_),
      positions_(other.positions_) {
  Relink();
}

UserTableList& UserTableList::operator=(const UserTableList& other) {
  if (this != &other) {
    UserTableList copy(other);
    *this = std::move(copy);
  }
  return *this;
}

// Moving a vector keeps its buffer, so the pointers stay valid.
UserTableList::UserTableList(UserTableList&& other) noexcept
    : records_(std::move(other.records_)),
      counts_(std::move(other.counts_)),
      children_(std::move(other.children_)),
      positions_(std::move(other.positions_)) {
  other.Clear();
}

UserTableList& UserTableList::operator=(UserTableList&& other) noexcept {
  if (this != &other) {
    records_ = std::move(other.records_);
    counts_ = std::move(other.counts_);
    children_ = std::move(other.children_);
    positions_ = std::move(other.positions_);
    other.Clear();
  }
  return *this;
}

void UserTableList::Append(const _tagUSERTABLEINFO& record,
                           std::vector<_tagUSERTABLEINFO> children) {
  AppendSparse(record, std::move(children), {});
}

void UserTableList::AppendSparse(const _tagUSERTABLEINFO& record,
                                 std::vector<_tagUSERTABLEINFO> children,
                                 std::vector<std::uint32_t> positions) {
  for (_tagUSERTABLEINFO& child : children) child.pChild = nullptr;
  RoomForOne(records_);
  RoomForOne(counts_);
  RoomForOne(children_);
  RoomForOne(positions_);
  // Nothing below allocates: a failure above leaves the list as it was.
  records_.push_back(record);
  counts_.push_back(record.dwChildLen);
  children_.push_back(std::move(children));
  positions_.push_back(std::move(positions));
  // Earlier children vectors were moved, not copied, so their pointers hold.
  _tagUSERTABLEINFO& r = records_.back();
  std::vector<_tagUSERTABLEINFO>& kept = children_.back();
  r.pChild = kept.empty() ? nullptr : kept.data();
  if (!kept.empty()) r.dwChildLen = static_cast<std::uint32_t>(kept.size());
}

void UserTableList::Children(std::size_t i, _tagUSERTABLEINFO* out) const {
  std::fill(out, out + counts_[i], _tagUSERTABLEINFO{});
  const std::vector<_tagUSERTABLEINFO>& kept = children_[i];
  const std::vector<std::uint32_t>& at = positions_[i];
  for (std::size_t m = 0; m < kept.size(); ++m) {
    const std::size_t j = at.empty() ? m : at[m];
    if (j < counts_[i]) out[j] = kept[m];
  }
}

void UserTableList::Clear() {
  records_.clear();
  counts_.clear();
  children_.clear();
  positions_.clear();
}

void UserTableList::Relink() {
  for (std::size_t i = 0; i < records_.size(); ++i) {
    std::vector<_tagUSERTABLEINFO>& kept = children_[i];
    records_[i].pChild = kept.empty() ? nullptr : kept.data();
  }
}

}  // namespace quillmore
