#include "usertable/xml_insert.h"

#include <algorithm>
#include <optional>

#include "base/ascii.h"
#include "config/record_fields.h"
#include "textsql/table_names.h"

namespace quillmore {
namespace {

void AppendQuoted(std::string& out, std::string_view value, int databaseType) {
  const bool backslash_escapes = databaseType == 4;
  out += '\'';
  for (char c : value) {
    if (c == '\'' || (c == '\\' && backslash_escapes)) out += c;
    out += c;
  }
  out += '\'';
}

// "f_" and the name in lower case, as UserColumnName gives it.
void AppendColumn(std::string& out, std::string_view name) {
  out += "f_";
  for (char c : name) out += Lower(c);
}

void AppendStatement(std::string& out, std::string_view table,
                     std::string_view columns, std::string_view id,
                     std::string_view values) {
  for (std::string_view piece :
       {std::string_view("INSERT INTO "), table, std::string_view(" (f_id "),
        columns, std::string_view(") VALUES ( "), id, std::string_view(" "),
        values, std::string_view(")")}) {
    out += piece;
  }
}

bool ByName(const std::pair<std::string_view, std::size_t>& a,
            const std::pair<std::string_view, std::size_t>& b) {
  return a.first < b.first;
}

}  // namespace

UserInsertBuilder::UserInsertBuilder(
    std::span<const _tagUSERTABLEINFO> definitions, int device,
    std::uint32_t serial, int databaseType, int recordId, std::size_t limit)
    : definitions_(definitions),
      device_(device),
      serial_(serial),
      database_type_(databaseType),
      id_(std::to_string(recordId)),
      limit_(limit) {
  std::size_t children = 0;
  for (std::size_t i = 0; i < definitions.size(); ++i) {
    const _tagUSERTABLEINFO& d = definitions[i];
    const std::string_view name = FieldView(d.szElement);
    if (name.empty()) continue;
    if (d.dwChildLen == 0) {
      plain_.emplace_back(name, 0);
    } else if (d.pChild != nullptr) {
      groups_.emplace_back(name, group_list_.size());
      group_list_.push_back(
          Group{i, children, children + d.dwChildLen, {}, {}});
      children += d.dwChildLen;
    }
  }
  // One capture per name: a name configured twice takes the same value.
  std::stable_sort(plain_.begin(), plain_.end(), ByName);
  plain_.erase(std::unique(plain_.begin(), plain_.end(),
                           [](const auto& a, const auto& b) {
                             return a.first == b.first;
                           }),
               plain_.end());
  for (std::size_t k = 0; k < plain_.size(); ++k) plain_[k].second = k;
  captures_.resize(plain_.size());
  std::stable_sort(groups_.begin(), groups_.end(), ByName);
  // Each group's child names, sorted for lookup within its range.
  children_.reserve(children);
  for (const Group& g : group_list_) {
    const _tagUSERTABLEINFO& d = definitions[g.definition];
    for (std::uint32_t j = 0; j < d.dwChildLen; ++j) {
      children_.push_back(FieldView(d.pChild[j].szElement));
    }
    std::sort(children_.begin() + static_cast<std::ptrdiff_t>(g.first),
              children_.end());
  }
}

bool UserInsertBuilder::OnStart(std::string_view name,
                                const RecordAttributes& attributes) {
  ++depth_;
  if (name.empty()) return true;
  const std::pair<std::string_view, std::size_t> key(name, 0);
  const auto plain =
      std::lower_bound(plain_.begin(), plain_.end(), key, ByName);
  if (plain != plain_.end() && plain->first == name &&
      captures_[plain->second].depth == -1) {
    captures_[plain->second].depth = depth_;
    capturing_.push_back(plain->second);
  }
  const auto [first, last] =
      std::equal_range(groups_.begin(), groups_.end(), key, ByName);
  for (auto g = first; g != last; ++g) {
    if (!Row(g->second, attributes)) return false;
  }
  return true;
}

bool UserInsertBuilder::OnEnd() {
  // Captures nest like their elements: the innermost is the last.
  if (!capturing_.empty() && captures_[capturing_.back()].depth == depth_) {
    captures_[capturing_.back()].depth = -2;
    capturing_.pop_back();
  }
  --depth_;
  return true;
}

bool UserInsertBuilder::OnText(std::string_view text) {
  for (std::size_t c : capturing_) {
    used_ += text.size();
    if (used_ > limit_) return false;
    captures_[c].text += text;
  }
  return true;
}

void UserInsertBuilder::Reset() {
  for (Capture& c : captures_) c = Capture();
  for (Group& g : group_list_) g.rows.clear();
  capturing_.clear();
  used_ = 0;
  depth_ = 0;
}

bool UserInsertBuilder::Row(std::size_t group,
                            const RecordAttributes& attributes) {
  Group& g = group_list_[group];
  const auto begin = children_.begin() + static_cast<std::ptrdiff_t>(g.first);
  const auto end = children_.begin() + static_cast<std::ptrdiff_t>(g.last);
  columns_.clear();
  values_.clear();
  for (std::size_t i = 0; i < attributes.size(); ++i) {
    std::string_view name = attributes.Name(i);
    const std::string_view prefix = attributes.Prefix(i);
    if (!prefix.empty()) {
      qualified_.assign(prefix).append(":").append(name);
      name = qualified_;
    }
    if (!std::binary_search(begin, end, name)) continue;
    columns_ += ',';
    AppendColumn(columns_, name);
    const std::optional<std::string_view> value = attributes.Value(i, scratch_);
    if (!value) return false;
    values_ += ',';
    AppendQuoted(values_, *value, database_type_);
  }
  if (columns_.empty()) return true;
  const std::string_view element =
      FieldView(definitions_[g.definition].szElement);
  if (g.table.empty()) g.table = FormatUserTableName(device_, element, serial_);
  if (!g.rows.empty()) g.rows += '\n';
  AppendStatement(g.rows, g.table, columns_, id_, values_);
  used_ += g.table.size() + columns_.size() + values_.size() + 40;
  return used_ <= limit_;
}

std::optional<std::string> UserInsertBuilder::Statements() const {
  std::string columns, values;
  bool any_column = false;
  for (const _tagUSERTABLEINFO& d : definitions_) {
    const std::string_view name = FieldView(d.szElement);
    if (d.dwChildLen != 0 || name.empty()) continue;
    columns += ", ";
    AppendColumn(columns, name);
    const std::pair<std::string_view, std::size_t> key(name, 0);
    const auto plain =
        std::lower_bound(plain_.begin(), plain_.end(), key, ByName);
    values += ',';
    AppendQuoted(values, captures_[plain->second].text, database_type_);
    any_column = true;
    if (columns.size() + values.size() > limit_) return std::nullopt;
  }
  std::size_t size = 0;
  for (const Group& g : group_list_) size += g.rows.size() + 1;
  std::string out;
  if (any_column) {
    const std::string table =
        FormatUserTableName(device_, std::nullopt, serial_);
    size += table.size() + columns.size() + values.size() + id_.size() + 40;
    if (size > limit_) return std::nullopt;
    out.reserve(size);
    AppendStatement(out, table, columns, id_, values);
  } else {
    if (size > limit_) return std::nullopt;
    out.reserve(size);
  }
  for (const Group& g : group_list_) {
    if (g.rows.empty()) continue;
    if (!out.empty()) out += '\n';
    out += g.rows;
  }
  return out;
}

}  // namespace quillmore
