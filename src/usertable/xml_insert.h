// The INSERT statements that put one XML record's values into a device's
// user tables: one row of the main user table, with a column for every
// plain definition, and one row of a group table for every occurrence of
// its group element that carries at least one configured attribute.
//
// Names are compared, never evaluated: a configured element name matches
// the elements of that local name that have an element parent and no
// namespace (so never the document element), and a child name matches the
// attributes written with that name, prefix included ("x:name"). A name
// that is no XML name matches nothing.
//
// Values become SQL string literals: between single quotes, every quote
// doubled; for MySQL (database type 4), whose literals treat a backslash as
// an escape, every backslash doubled too. So no value ends its literal
// early, and the stored value is the value given.
#ifndef QUILLMORE_USERTABLE_XML_INSERT_H_
#define QUILLMORE_USERTABLE_XML_INSERT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quillmore/QuillmoreExt.h"
#include "xml/record_reader.h"

namespace quillmore {

// The longest statements a record of `n` bytes may give.
constexpr std::size_t StatementLimit(std::size_t n) {
  return (std::size_t{1} << 20) + 16 * n;
}

// Reads a record (ReadRecord, XmlParser::Transform) and makes its
// statements. The definitions (and their children) must outlive it.
class UserInsertBuilder final : public RecordHandler {
 public:
  // `limit` bounds the statements and the values gathered for them; a
  // record that would pass it fails.
  UserInsertBuilder(std::span<const _tagUSERTABLEINFO> definitions, int device,
                    std::uint32_t serial, int databaseType, int recordId,
                    std::size_t limit);

  // The statements, separated by single line feeds, in definition order:
  // the main user table's first (when any plain definition exists, even if
  // none of its elements occurs), with each column's value the text of the
  // first element of its name in document order; then each group element's
  // rows in document order, their columns in the order of the attributes
  // in the document. Empty when no statement was made; nullopt past the
  // limit. Call after a successful read.
  std::optional<std::string> Statements() const;

  bool OnStart(std::string_view name,
               const RecordAttributes& attributes) override;
  bool OnEnd() override;
  bool OnText(std::string_view text) override;
  void Reset() override;

 private:
  struct Capture {
    int depth = -1;  // of the element read now; -1 before it, -2 after
    std::string text;
  };
  struct Group {
    std::size_t definition;
    std::size_t first, last;  // its child names in children_
    std::string table, rows;
  };
  // Names sorted for lookup, each with the index of its capture or group.
  using Index = std::vector<std::pair<std::string_view, std::size_t>>;

  bool Row(std::size_t group, const RecordAttributes& attributes);

  std::span<const _tagUSERTABLEINFO> definitions_;
  int device_;
  std::uint32_t serial_;
  int database_type_;
  std::string id_;
  std::size_t limit_;
  Index plain_;  // one capture per distinct name
  std::vector<Capture> captures_;
  std::vector<std::size_t> capturing_;  // captures open now, innermost last
  Index groups_;                        // every group definition
  std::vector<Group> group_list_;       // in definition order
  std::vector<std::string_view> children_;
  std::size_t used_ = 0;  // bytes gathered
  int depth_ = 0;
  std::string columns_, values_, qualified_, scratch_;
};

}  // namespace quillmore

#endif  // QUILLMORE_USERTABLE_XML_INSERT_H_
