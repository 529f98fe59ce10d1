#include "xml/xml_parser.h"

#include <libxml/xpathInternals.h>
#include <libxslt/xsltutils.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "xml/record_parse.h"
#include "xml/xml_handles.h"
#include "xml/xml_library.h"

namespace quillmore {
namespace {

// Larger stylesheet files are not read; nothing legitimate comes near it.
constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;

// libxml2 2.9.14 stops XPath recursion when its context's depth counter
// reaches this (XPATH_MAX_RECURSION_DEPTH), counting 10 for each nested
// expression while compiling and 1 for each nested step while evaluating. A
// context whose counter starts higher allows fewer levels.
constexpr int kXPathRecursionLimit = 5000;

// Parses a file's bytes; null unless well-formed, namespaces included.
XmlPtr<xmlDoc> ParseFile(std::string_view bytes, const char* url,
                         int extra_options) {
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
  XmlPtr<xmlParserCtxt> context(xmlNewParserCtxt());
  if (!context) return nullptr;
  // The parser's own channel; NOERROR in the options clears the others.
  context->sax->serror = &IgnoreStructuredError;
  XmlPtr<xmlDoc> doc(xmlCtxtReadMemory(
      context.get(), bytes.data(), static_cast<int>(bytes.size()), url, nullptr,
      kXmlParseOptions | extra_options));
  if (!doc || context->wellFormed == 0 || context->nsWellFormed == 0) {
    return nullptr;
  }
  return doc;
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

// Whether a transformation stopped at one of its limits.
struct LimitSeen {
  bool seen = false;
};

// libxslt reports its template depth and variable limits only as messages.
__attribute__((format(printf, 2, 3))) void OnTransformError(void* data,
                                                            const char* format,
                                                            ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (std::strstr(text, "infinite template recursion") != nullptr) {
    static_cast<LimitSeen*>(data)->seen = true;
  }
}

void OnXPathError(void* data, XmlErrorPointer error) {
  // xmlXPathErr reports an XPath error as its code plus this.
  const int base = XML_XPATH_EXPRESSION_OK;
  if (error->code == base + XPATH_OP_LIMIT_EXCEEDED ||
      error->code == base + XPATH_RECURSION_LIMIT_EXCEEDED) {
    static_cast<LimitSeen*>(data)->seen = true;
  }
}

// The context's limits for a record of `n` bytes, its error channels and
// its security preferences.
bool SetLimits(xsltTransformContext& context, std::size_t n, LimitSeen& limit) {
  xsltSetTransformErrorFunc(&context, &limit, &OnTransformError);
  xsltSecurityPrefs* prefs = ForbiddingSecurityPrefs();
  if (prefs == nullptr || xsltSetCtxtSecurityPrefs(prefs, &context) != 0) {
    return false;
  }
  xsltSetCtxtParseOptions(&context, kXmlParseOptions);
  context.maxTemplateDepth = kMaxTemplateDepth;
  context.maxTemplateVars = kMaxTemplateVars;
  context.opLimit = OpLimit(n);
  xmlXPathContext& xpath = *context.xpathCtxt;
  xpath.opLimit = XPathOpLimit(n);
  xpath.depth = kXPathRecursionLimit - kMaxXPathNesting;
  xpath.error = &OnXPathError;
  xpath.userData = &limit;
  return true;
}

// The result serialised as XML in UTF-8, whatever xsl:output asks for.
std::optional<std::string> Serialised(xmlDoc& doc) {
  XmlPtr<xmlBuffer> buffer(xmlBufferCreate());
  if (!buffer) return std::nullopt;
  XmlPtr<xmlSaveCtxt> save(xmlSaveToBuffer(buffer.get(), "UTF-8",
                                           XML_SAVE_AS_XML | XML_SAVE_NO_DECL));
  if (!save || xmlSaveDoc(save.get(), &doc) < 0) return std::nullopt;
  if (xmlSaveClose(save.release()) < 0) return std::nullopt;
  return std::string(
      reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
      static_cast<std::size_t>(xmlBufferLength(buffer.get())));
}

}  // namespace

struct XmlParser::Impl {
  explicit Impl(Platform* p) : platform(p) {}
  Platform* platform;
  XmlPtr<xsltStylesheet> stylesheet;
};

XmlParser::XmlParser() : XmlParser(CurrentPlatform()) {}

XmlParser::XmlParser(Platform* platform)
    : impl_(std::make_unique<Impl>(platform)) {}

XmlParser::~XmlParser() = default;

bool XmlParser::LoadStylesheet(const char* path) {
  XmlCallScope scope;
  impl_->stylesheet.reset();
  std::optional<std::string> bytes = ReadFile(*impl_->platform, path);
  if (!bytes) return false;
  // CDATA as plain text: a stylesheet's meaning doesn't depend on it.
  XmlPtr<xmlDoc> doc = ParseFile(*bytes, path, XML_PARSE_NOCDATA);
  if (!doc) return false;
  XmlPtr<xsltStylesheet> style(xsltNewStylesheet());
  if (!style || style->xpathCtxt == nullptr) return false;
  style->xpathCtxt->depth = kXPathRecursionLimit - 10 * kMaxXPathNesting;
  if (xsltParseStylesheetUser(style.get(), doc.get()) != 0) {
    return false;  // the document is still ours
  }
  doc.release();  // now the stylesheet's
  impl_->stylesheet = std::move(style);
  return true;
}

bool XmlParser::Transform(const char* text, RecordHandler& handler) {
  XmlCallScope scope;
  xsltStylesheet* style = impl_->stylesheet.get();
  if (style == nullptr || text == nullptr) return false;
  const std::size_t n = std::strlen(text);
  XmlPtr<xmlDoc> source = ParseRecordTree(text);
  if (!source) return false;
  LimitSeen limit;
  XmlPtr<xmlDoc> result;
  {
    AllocationBudget budget(AllocationLimit(n));
    XmlPtr<xsltTransformContext> context(
        xsltNewTransformContext(style, source.get()));
    if (!context) return false;
    budget.Stop(context.get());
    if (!SetLimits(*context, n, limit)) return false;
    result.reset(xsltApplyStylesheetUser(style, source.get(), nullptr, nullptr,
                                         nullptr, context.get()));
    limit.seen = limit.seen || budget.exceeded() ||
                 context->opCount >= context->opLimit ||
                 context->xpathCtxt->opCount >= context->xpathCtxt->opLimit;
    if (!limit.seen && (!result || context->state != XSLT_STATE_OK)) {
      return false;
    }
  }
  if (!limit.seen) {
    switch (ReadResultTree(*result, handler, ResultLimit(n))) {
      case TreeRead::kOk:
        return true;
      case TreeRead::kFailed:
        return false;
      case TreeRead::kTooLarge:
        limit.seen = true;
        break;
      case TreeRead::kNeedsText: {
        handler.Reset();
        const std::optional<std::string> serialised = Serialised(*result);
        return serialised && ReadRecord(serialised->c_str(), handler);
      }
    }
  }
  // Not tried again while this object lives.
  impl_->stylesheet.reset();
  return false;
}

bool XmlParser::ValidateFile(const char* path) {
  XmlCallScope scope;
  std::optional<std::string> bytes = ReadFile(*impl_->platform, path);
  return bytes && ParseFile(*bytes, path, 0) != nullptr;
}

}  // namespace quillmore
