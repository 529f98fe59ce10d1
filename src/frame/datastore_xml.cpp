// DataStore: the XML record to user-table INSERTs and the stylesheet check.
#include <cstring>
#include <span>
#include <string>

#include "frame/datastore.h"
#include "usertable/xml_insert.h"
#include "xml/xml_parser.h"

namespace quillmore {

std::uint32_t DataStore::GetUserInsertQuery(int recordId, const char* xmlText,
                                            char* buffer, std::uint32_t size) {
  if (device < 0) return 0;
  if (!config || config->databaseType == 0) return 0;
  if (useUserTable == 0 || userTable.empty()) return 0;

  std::string transformed;
  const char* working = xmlText;
  if (useXmlParser != 0) {
    const std::string xslt(xsltFile, strnlen(xsltFile, sizeof xsltFile));
    if (xslt.empty()) return 0;
    // The stylesheet is read once per loaded configuration; a load that
    // failed is not retried, and Transform then fails.
    if (!transformer) {
      transformer = std::make_unique<XmlParser>(platform_);
      if (transformer->LoadStylesheet(xslt.c_str()) != XmlParser::kOk) {
        return 0;
      }
    }
    if (transformer->Transform(xmlText, transformed) != XmlParser::kOk) {
      return 0;
    }
    working = transformed.c_str();
  }

  XmlParser content(platform_);
  if (content.LoadText(working) != XmlParser::kOk) return 0;
  const std::string statements = BuildUserInsertQuery(
      std::span<const _tagUSERTABLEINFO>(userTable.data(), userTable.size()),
      content, device, volumeSerial, config->databaseType, recordId);
  return CopyOut(statements, buffer, size, CopyRule::kSignedSize);
}

int DataStore::ValidateXslt(const char* filePath) {
  XmlParser parser(platform_);
  return parser.ValidateFile(filePath);
}

}  // namespace quillmore
