// XmlParser: the library's thin layer over libxml2 and libxslt. It holds up
// to two documents, a stylesheet and a content document. No failure of the
// XML libraries reaches the caller: every operation turns it into its
// failure result, and nothing is printed.
//
// Text in and out is UTF-8. Objects are not copied; one object is used by
// one thread at a time.
#ifndef QUILLMORE_XML_XML_PARSER_H_
#define QUILLMORE_XML_XML_PARSER_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillmore {

// The attributes of one selected element, name and value, in document order.
using XmlAttributes = std::vector<std::pair<std::string, std::string>>;

class XmlParser {
 public:
  static constexpr std::int32_t kOk = 0;
  static constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005u);

  XmlParser();
  XmlParser(const XmlParser&) = delete;
  XmlParser& operator=(const XmlParser&) = delete;
  virtual ~XmlParser();

  std::int32_t LoadStylesheet(const char* path);
  std::int32_t Transform(const char* text, std::string& out);
  std::int32_t LoadText(const char* text);
  // 1 when the lookup ran (out is the first match's text, or empty), 0 when
  // it failed.
  int GetElementText(const char* name, std::string& out);
  // The elements of that name with an element parent, in document order;
  // nullopt on failure.
  std::optional<std::vector<XmlAttributes>> SelectElements(const char* name);
  int ValidateFile(const char* path);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillmore

#endif  // QUILLMORE_XML_XML_PARSER_H_
