// XmlParser: the library's thin layer over libxml2 and libxslt. It holds up
// to two documents, a compiled stylesheet and a content document. No failure
// of the XML libraries reaches the caller: every operation turns it into its
// failure result, and nothing is printed.
//
// Text. XML text given to LoadText and Transform is UTF-8, whatever its
// encoding declaration says; bytes that are not UTF-8 become U+FFFD. Files
// given to LoadStylesheet and ValidateFile are read in their own declared
// encoding. Every value handed back is UTF-8.
//
// Safety. Parsing reads nothing but the given text or file: no network, no
// external entities or DTDs, default depth and entity-expansion limits.
// Stylesheets must be self-contained (xsl:import, xsl:include and document()
// fail), and a transformation may not read or write files, create folders
// or reach the network.
//
// Objects are not copied; one object is used by one thread at a time.
// Separate objects may be used on separate threads.
#ifndef QUILLMORE_XML_XML_PARSER_H_
#define QUILLMORE_XML_XML_PARSER_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillmore {

class Platform;

// The attributes of one selected element, name and value, in document order.
// A name carries its prefix ("x:name"); namespace declarations are not
// attributes here.
using XmlAttributes = std::vector<std::pair<std::string, std::string>>;

class XmlParser {
 public:
  static constexpr std::int32_t kOk = 0;
  static constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005u);

  // Files are read through `platform` (not owned; it must outlive the
  // object); the default is CurrentPlatform().
  XmlParser();
  explicit XmlParser(Platform* platform);
  XmlParser(const XmlParser&) = delete;
  XmlParser& operator=(const XmlParser&) = delete;
  virtual ~XmlParser();

  // Replaces the held stylesheet by the one compiled from the file; after a
  // failure no stylesheet is held and every Transform fails.
  std::int32_t LoadStylesheet(const char* path);
  // The held stylesheet applied to `text`, serialised as XML in UTF-8
  // without a declaration, in `out`. On failure `out` is unchanged.
  std::int32_t Transform(const char* text, std::string& out);
  // Replaces the content document. After a failure an empty document is
  // held: lookups run and find nothing.
  std::int32_t LoadText(const char* text);
  // Evaluates "//*/<name>" (name unchanged, so XPath syntax in it counts).
  // 1 when the lookup ran: `out` is the text content of the first node in
  // document order when that node is an element, else empty. 0 without a
  // content document or when the expression fails or gives no node set;
  // `out` is then unchanged.
  int GetElementText(const char* name, std::string& out);
  // The attributes of every element that "//*/<name>" selects, in document
  // order; selected nodes that are not elements are skipped. nullopt when
  // the lookup fails as for GetElementText.
  std::optional<std::vector<XmlAttributes>> SelectElements(const char* name);
  // 1 when the file can be read and is well-formed XML (with namespaces),
  // else 0. Touches neither held document. Here and in LoadStylesheet a
  // file over 64 MiB counts as unreadable.
  int ValidateFile(const char* path);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillmore

#endif  // QUILLMORE_XML_XML_PARSER_H_
