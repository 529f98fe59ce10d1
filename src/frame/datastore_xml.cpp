// DataStore: the XML record to user-table INSERTs and the stylesheet check.
#include "frame/datastore.h"
#include "xml/xml_parser.h"

namespace quillmore {

std::uint32_t DataStore::GetUserInsertQuery(int, const char*, char*,
                                            std::uint32_t) {
  return 0;
}

int DataStore::ValidateXslt(const char* filePath) {
  XmlParser parser;
  return parser.ValidateFile(filePath);
}

}  // namespace quillmore
