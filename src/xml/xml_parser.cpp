#include "xml/xml_parser.h"

#include <libxml/xpathInternals.h>
#include <libxslt/xsltutils.h>

#include <climits>
#include <cstddef>
#include <string_view>

#include "platform/platform.h"
#include "xml/utf8_repair.h"
#include "xml/xml_handles.h"
#include "xml/xml_library.h"

namespace quillmore {
namespace {

// Larger stylesheet files are not read; nothing legitimate comes near it.
constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;

// Runs `body` inside an XmlCallScope; an exception (only memory exhaustion
// can raise one) becomes `failure`.
template <typename R, typename F>
R Guarded(R failure, F&& body) noexcept {
  try {
    XmlCallScope scope;
    return body();
  } catch (...) {
    return failure;
  }
}

// Parses `bytes`; null unless well-formed, namespaces included. With
// `as_utf8` the text is read as UTF-8 whatever it declares.
XmlPtr<xmlDoc> ParseMemory(std::string_view bytes, const char* url,
                           bool as_utf8, int extra_options) {
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
  XmlPtr<xmlParserCtxt> context(xmlNewParserCtxt());
  if (!context) return nullptr;
  // The parser's own channel; NOERROR in the options clears the others.
  context->sax->serror = &IgnoreStructuredError;
  int options = kXmlParseOptions | extra_options;
  const char* encoding = nullptr;
  if (as_utf8) {
    options |= XML_PARSE_IGNORE_ENC;
    encoding = "UTF-8";
  }
  XmlPtr<xmlDoc> doc(xmlCtxtReadMemory(context.get(), bytes.data(),
                                       static_cast<int>(bytes.size()), url,
                                       encoding, options));
  if (!doc || context->wellFormed == 0 || context->nsWellFormed == 0) {
    return nullptr;
  }
  return doc;
}

// A record's XML text, repaired to UTF-8 when it needs it.
XmlPtr<xmlDoc> ParseText(const char* text) {
  if (text == nullptr) return nullptr;
  std::string_view view(text);
  std::string repaired;
  if (!IsValidUtf8(view)) {
    repaired = RepairUtf8(view);
    view = repaired;
  }
  return ParseMemory(view, nullptr, true, 0);
}

// The file's bytes; we read it ourselves because the entity loader refuses
// every file during our calls.
std::optional<std::string> ReadFile(Platform& platform, const char* path) {
  if (path == nullptr || path[0] == '\0') return std::nullopt;
  std::optional<std::string> bytes =
      platform.ReadPrefix(path, kMaxFileBytes + 1);
  if (bytes && bytes->size() > kMaxFileBytes) return std::nullopt;
  return bytes;
}

std::string ToString(const xmlChar* text) {
  return text != nullptr ? std::string(reinterpret_cast<const char*>(text))
                         : std::string();
}

std::string ContentOf(xmlNode* node) {
  XmlPtr<xmlChar> text(xmlNodeGetContent(node));
  return ToString(text.get());
}

}  // namespace

struct XmlParser::Impl {
  explicit Impl(Platform* p) : platform(p) {}

  // Replaces the content document (an empty one when `doc` is null).
  bool Adopt(XmlPtr<xmlDoc> doc) {
    xpath.reset();
    document.reset();
    if (!doc) doc.reset(xmlNewDoc(BAD_CAST "1.0"));
    if (!doc) return false;
    // Numbers the elements so sorting by document order is cheap.
    xmlXPathOrderDocElems(doc.get());
    XmlPtr<xmlXPathContext> context(xmlXPathNewContext(doc.get()));
    if (!context) return false;
    context->error = &IgnoreStructuredError;
    document = std::move(doc);
    xpath = std::move(context);
    return true;
  }

  // "//*/<name>" over the content document, in document order; null when it
  // fails or gives no node set.
  XmlPtr<xmlXPathObject> Select(const char* name) {
    if (!xpath || name == nullptr) return nullptr;
    std::string_view view(name);
    const std::string expression =
        "//*/" + (IsValidUtf8(view) ? std::string(view) : RepairUtf8(view));
    xpath->node = reinterpret_cast<xmlNode*>(document.get());
    XmlPtr<xmlXPathObject> result(xmlXPathEvalExpression(
        reinterpret_cast<const xmlChar*>(expression.c_str()), xpath.get()));
    if (!result || result->type != XPATH_NODESET) return nullptr;
    if (result->nodesetval != nullptr) xmlXPathNodeSetSort(result->nodesetval);
    return result;
  }

  Platform* platform;
  XmlPtr<xsltStylesheet> stylesheet;
  XmlPtr<xmlDoc> document;
  XmlPtr<xmlXPathContext>
      xpath;  // over `document`; declared last, so freed first
};

XmlParser::XmlParser() : XmlParser(CurrentPlatform()) {}

XmlParser::XmlParser(Platform* platform)
    : impl_(std::make_unique<Impl>(platform)) {}

XmlParser::~XmlParser() = default;

std::int32_t XmlParser::LoadStylesheet(const char* path) {
  return Guarded(kFail, [&]() -> std::int32_t {
    impl_->stylesheet.reset();
    std::optional<std::string> bytes = ReadFile(*impl_->platform, path);
    if (!bytes) return kFail;
    // CDATA as plain text: a stylesheet's meaning doesn't depend on it.
    XmlPtr<xmlDoc> doc = ParseMemory(*bytes, path, false, XML_PARSE_NOCDATA);
    if (!doc) return kFail;
    XmlPtr<xsltStylesheet> style(xsltParseStylesheetDoc(doc.get()));
    if (!style) return kFail;  // the document is still ours
    doc.release();             // now the stylesheet's
    impl_->stylesheet = std::move(style);
    return kOk;
  });
}

std::int32_t XmlParser::Transform(const char* text, std::string& out) {
  return Guarded(kFail, [&]() -> std::int32_t {
    xsltStylesheet* style = impl_->stylesheet.get();
    if (style == nullptr) return kFail;
    XmlPtr<xmlDoc> source = ParseText(text);
    if (!source) return kFail;
    XmlPtr<xsltTransformContext> context(
        xsltNewTransformContext(style, source.get()));
    if (!context) return kFail;
    xsltSetTransformErrorFunc(context.get(), nullptr, &IgnoreGenericError);
    xsltSecurityPrefs* prefs = ForbiddingSecurityPrefs();
    if (prefs == nullptr ||
        xsltSetCtxtSecurityPrefs(prefs, context.get()) != 0) {
      return kFail;
    }
    xsltSetCtxtParseOptions(context.get(), kXmlParseOptions);
    XmlPtr<xmlDoc> result(xsltApplyStylesheetUser(
        style, source.get(), nullptr, nullptr, nullptr, context.get()));
    if (!result || context->state != XSLT_STATE_OK) return kFail;

    XmlPtr<xmlBuffer> buffer(xmlBufferCreate());
    if (!buffer) return kFail;
    // Always XML in UTF-8, whatever xsl:output asks for: the text is parsed
    // again as UTF-8.
    XmlPtr<xmlSaveCtxt> save(xmlSaveToBuffer(
        buffer.get(), "UTF-8", XML_SAVE_AS_XML | XML_SAVE_NO_DECL));
    if (!save || xmlSaveDoc(save.get(), result.get()) < 0) return kFail;
    if (xmlSaveClose(save.release()) < 0) return kFail;
    out.assign(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
               static_cast<std::size_t>(xmlBufferLength(buffer.get())));
    return kOk;
  });
}

std::int32_t XmlParser::LoadText(const char* text) {
  return Guarded(kFail, [&]() -> std::int32_t {
    XmlPtr<xmlDoc> doc = ParseText(text);
    const bool parsed = doc != nullptr;
    if (!impl_->Adopt(std::move(doc))) return kFail;
    return parsed ? kOk : kFail;
  });
}

int XmlParser::GetElementText(const char* name, std::string& out) {
  return Guarded(0, [&] {
    XmlPtr<xmlXPathObject> found = impl_->Select(name);
    if (!found) return 0;
    std::string text;
    const xmlNodeSet* nodes = found->nodesetval;
    if (nodes != nullptr && nodes->nodeNr > 0 &&
        nodes->nodeTab[0]->type == XML_ELEMENT_NODE) {
      text = ContentOf(nodes->nodeTab[0]);
    }
    out = std::move(text);
    return 1;
  });
}

std::optional<std::vector<XmlAttributes>> XmlParser::SelectElements(
    const char* name) {
  using Result = std::optional<std::vector<XmlAttributes>>;
  return Guarded(Result(), [&]() -> Result {
    XmlPtr<xmlXPathObject> found = impl_->Select(name);
    if (!found) return std::nullopt;
    std::vector<XmlAttributes> elements;
    const xmlNodeSet* nodes = found->nodesetval;
    const int count = nodes != nullptr ? nodes->nodeNr : 0;
    for (int i = 0; i < count; ++i) {
      xmlNode* node = nodes->nodeTab[i];
      if (node->type != XML_ELEMENT_NODE) continue;
      XmlAttributes attributes;
      for (xmlAttr* a = node->properties; a != nullptr; a = a->next) {
        std::string attribute_name = ToString(a->name);
        if (a->ns != nullptr && a->ns->prefix != nullptr) {
          attribute_name = ToString(a->ns->prefix) + ":" + attribute_name;
        }
        attributes.emplace_back(std::move(attribute_name),
                                ContentOf(reinterpret_cast<xmlNode*>(a)));
      }
      elements.push_back(std::move(attributes));
    }
    return elements;
  });
}

int XmlParser::ValidateFile(const char* path) {
  return Guarded(0, [&] {
    std::optional<std::string> bytes = ReadFile(*impl_->platform, path);
    if (!bytes) return 0;
    return ParseMemory(*bytes, path, false, 0) != nullptr ? 1 : 0;
  });
}

}  // namespace quillmore
