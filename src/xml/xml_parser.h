// XmlParser: the library's holder of a compiled stylesheet over libxslt,
// and the check that a file loads as XML. Every operation gives true on
// success and false on failure; a failure of the XML libraries becomes a
// false result and nothing is printed. An exception (only memory
// exhaustion raises one) passes through: the facade's barrier turns it
// into the method's failure result.
//
// Text. Files given to LoadStylesheet and ValidateFile are read in their own
// declared encoding; records given to Transform are read as ReadRecord
// reads them (record_reader.h), under the same bounds.
//
// Safety. Parsing reads nothing but the given text or file. Stylesheets must
// be self-contained (xsl:import, xsl:include and document() fail), and a
// transformation may not read or write files, create folders or reach the
// network. Each transformation runs under limits set on its own context
// (constants below); libxslt's process-wide defaults are left alone.
//
// Objects are not copied; one object is used by one thread at a time.
// Separate objects may be used on separate threads.
#ifndef QUILLMORE_XML_XML_PARSER_H_
#define QUILLMORE_XML_XML_PARSER_H_

#include <cstddef>
#include <memory>

namespace quillmore {

class Platform;
class RecordHandler;

// Limits of one transformation of a record of n bytes. Nested template
// calls and sequence constructors stay within kMaxTemplateDepth and XPath
// expressions within kMaxXPathNesting levels, so a transformation fits a
// 256 KiB thread stack; the work within OpLimit(n) XSLT instructions and
// XPathOpLimit(n) XPath steps, the bytes libxml2 and libxslt allocate within
// AllocationLimit(n), and the result's text, names and values within
// ResultLimit(n).
inline constexpr int kMaxTemplateDepth = 150;
inline constexpr int kMaxTemplateVars = 10000;
inline constexpr int kMaxXPathNesting = 150;
constexpr std::size_t OpLimit(std::size_t n) { return 1000000 + 16 * n; }
constexpr std::size_t XPathOpLimit(std::size_t n) { return 10000000 + 64 * n; }
constexpr std::size_t AllocationLimit(std::size_t n) {
  return (std::size_t{64} << 20) + 64 * n;
}
constexpr std::size_t ResultLimit(std::size_t n) {
  return (std::size_t{1} << 20) + 16 * n;
}

class XmlParser {
 public:
  // Files are read through `platform` (not owned; it must outlive the
  // object); the default is CurrentPlatform().
  XmlParser();
  explicit XmlParser(Platform* platform);
  XmlParser(const XmlParser&) = delete;
  XmlParser& operator=(const XmlParser&) = delete;
  virtual ~XmlParser();

  // Replaces the held stylesheet by the one compiled from the file; after a
  // failure no stylesheet is held and every Transform fails. XPath
  // expressions nested deeper than kMaxXPathNesting fail the compilation.
  bool LoadStylesheet(const char* path);
  // Applies the held stylesheet to the record `text` and reads the result
  // tree into `handler` (as ReadRecord would read its serialisation, which
  // is made only for a result that needs it: see ReadResultTree). A
  // transformation that reaches a limit fails and drops the stylesheet, so
  // every later Transform fails too.
  bool Transform(const char* text, RecordHandler& handler);
  // Whether the file can be read and is well-formed XML (with namespaces).
  // Touches no held stylesheet. Here and in LoadStylesheet a file over 64
  // MiB counts as unreadable.
  bool ValidateFile(const char* path);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillmore

#endif  // QUILLMORE_XML_XML_PARSER_H_
