#include "xml/xml_parser.h"

namespace quillmore {

// Placeholder until the libxml2 layer lands: every operation fails.
struct XmlParser::Impl {};

XmlParser::XmlParser() = default;
XmlParser::~XmlParser() = default;

std::int32_t XmlParser::LoadStylesheet(const char*) { return kFail; }
std::int32_t XmlParser::Transform(const char*, std::string&) { return kFail; }
std::int32_t XmlParser::LoadText(const char*) { return kFail; }
int XmlParser::GetElementText(const char*, std::string&) { return 0; }
std::optional<std::vector<XmlAttributes>> XmlParser::SelectElements(
    const char*) {
  return std::nullopt;
}
int XmlParser::ValidateFile(const char*) { return 0; }

}  // namespace quillmore
