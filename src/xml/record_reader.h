// One pass over a record's XML: the elements, attributes and text reach a
// RecordHandler in document order, straight from the parser, without a
// document tree. The same events come from a transformation's result tree
// (XmlParser::Transform).
//
// What a record may cost is bounded, so every record is read in time and
// memory proportional to its size (a record beyond a bound fails):
// - entity replacement text, counted at every reference (in content and in
//   attribute values, nested ones included), at most kExpansionFactor times
//   the text's size plus kExpansionBase bytes;
// - at most kMaxAttributes attributes (namespace declarations included) on
//   one element, checked in a pass over the text before the parser sees it;
// - at most kMaxNamespacesInScope namespace declarations in scope at once;
// - at most kMaxAttributeDeclarations attribute declarations (ATTLIST
//   entries) in the document type declaration;
// - libxml2's own limits: 256 levels of nesting, 10 MB in one text node.
//
// Text is UTF-8 whatever its declaration says; bytes that are not UTF-8
// become U+FFFD. Nothing outside the text is read (no DTD, no external
// entity, no network). Separate calls may run on separate threads.
#ifndef QUILLMORE_XML_RECORD_READER_H_
#define QUILLMORE_XML_RECORD_READER_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillmore {

inline constexpr std::size_t kExpansionFactor = 8;
inline constexpr std::size_t kExpansionBase = std::size_t{1} << 20;
inline constexpr std::size_t kMaxAttributes = 256;
inline constexpr std::size_t kMaxNamespacesInScope = 256;
inline constexpr std::size_t kMaxAttributeDeclarations = 32;

// The attributes of one element, in document order; valid during OnStart
// only. Attributes the document type declaration adds by default and
// namespace declarations are not among them.
class RecordAttributes {
 public:
  virtual std::size_t size() const = 0;
  // Prefix ("" for none) and local name.
  virtual std::string_view Prefix(std::size_t i) const = 0;
  virtual std::string_view Name(std::size_t i) const = 0;
  // The value, entities replaced; it may live in `scratch`. nullopt when
  // the replacement would pass the record's bound: the record fails.
  virtual std::optional<std::string_view> Value(std::size_t i,
                                                std::string& scratch) const = 0;

 protected:
  ~RecordAttributes() = default;
};

// Receives a record. A false result stops the reading; the record fails.
class RecordHandler {
 public:
  // Every element outside entity replacement text, the document element
  // first. `name` is the local name of an element that has an element
  // parent and no namespace, the only elements a configured name can
  // match; for any other element it is empty.
  virtual bool OnStart(std::string_view name,
                       const RecordAttributes& attributes) = 0;
  // The end of the element of the latest OnStart still open.
  virtual bool OnEnd() = 0;
  // Character data inside the document element, in pieces: text, CDATA
  // sections and the text of entity replacement text (whose elements are
  // not reported but whose text is).
  virtual bool OnText(std::string_view text) = 0;
  // Forget everything received; the record is read again from the start.
  virtual void Reset() = 0;

 protected:
  ~RecordHandler() = default;
};

// Reads the zero-terminated `text` into `handler`. False when the text is
// null or not a well-formed document (namespaces included), passes a
// bound, or the handler stopped.
bool ReadRecord(const char* text, RecordHandler& handler);

}  // namespace quillmore

#endif  // QUILLMORE_XML_RECORD_READER_H_
