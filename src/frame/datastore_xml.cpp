// DataStore: the XML record to user-table INSERTs and the stylesheet check.
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "frame/datastore.h"
#include "usertable/xml_insert.h"
#include "xml/record_reader.h"
#include "xml/xml_parser.h"

namespace quillmore {

std::uint32_t DataStore::GetUserInsertQuery(int recordId, const char* xmlText,
                                            char* buffer, std::uint32_t size) {
  if (device < 0) return 0;
  if (!config || config->databaseType == 0) return 0;
  if (useUserTable == 0 || userTable.empty()) return 0;

  if (xmlText == nullptr) return 0;

  const std::size_t length = std::strlen(xmlText);
  UserInsertBuilder builder(
      std::span<const _tagUSERTABLEINFO>(userTable.data(), userTable.size()),
      device, volumeSerial, config->databaseType, recordId,
      StatementLimit(length));
  if (useXmlParser != 0) {
    const std::string xslt(xsltFile, strnlen(xsltFile, sizeof xsltFile));
    if (xslt.empty()) return 0;
    // The stylesheet is read once per loaded configuration; a load that
    // failed, or a transformation that reached a limit, leaves it without a
    // stylesheet, and Transform fails until the next load.
    if (!transformer) {
      transformer = std::make_unique<XmlParser>(platform_);
      if (!transformer->LoadStylesheet(xslt.c_str())) return 0;
    }
    if (!transformer->Transform(xmlText, builder)) return 0;
  } else if (!ReadRecord(xmlText, builder)) {
    return 0;
  }
  const std::optional<std::string> statements = builder.Statements();
  if (!statements) return 0;
  return CopyOut(*statements, buffer, size, CopyRule::kSignedSize);
}

int DataStore::ValidateXslt(const char* filePath) {
  XmlParser parser(platform_);
  return parser.ValidateFile(filePath) ? 1 : 0;
}

}  // namespace quillmore
