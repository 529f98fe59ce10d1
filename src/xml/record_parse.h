// Parsing a record under the bounds that record_reader.h states, as a tree
// for a transformation's source, and reading a transformation's result tree
// with the events of ReadRecord. Only files under src/xml/ include this.
#ifndef QUILLMORE_XML_RECORD_PARSE_H_
#define QUILLMORE_XML_RECORD_PARSE_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "xml/record_reader.h"
#include "xml/xml_handles.h"

namespace quillmore {

// The zero-terminated `text` as UTF-8: the text itself, or its repair kept
// in `repaired` (either way with a zero byte after the view).
std::string_view AsUtf8(const char* text, std::string& repaired);

// The record's tree (entity references kept as references, as ReadRecord
// sees them); null when the record fails as it would in ReadRecord.
XmlPtr<xmlDoc> ParseRecordTree(const char* text);

enum class TreeRead { kOk, kFailed, kTooLarge, kNeedsText };

// Reads a transformation's result as ReadRecord would read its
// serialisation: one document element, nothing but blanks as text beside
// it. kNeedsText when the tree holds what only that serialisation gives
// meaning to (text whose escaping was disabled, entity references, a
// carriage return in CDATA, a document type declaration); the handler may
// then have received events.
// kTooLarge when its text, names and values pass `limit` bytes.
TreeRead ReadResultTree(const xmlDoc& doc, RecordHandler& handler,
                        std::size_t limit);

}  // namespace quillmore

#endif  // QUILLMORE_XML_RECORD_PARSE_H_
