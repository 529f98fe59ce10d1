// Owning handles for the C objects of libxml2 and libxslt: one deleter with
// an overload per type, and XmlPtr<T> over std::unique_ptr. Every object the
// libraries hand out is wrapped at once; release() only after the call that
// adopts the object has succeeded.
//
// Only files under src/xml/ include this header.
#ifndef QUILLMORE_XML_XML_HANDLES_H_
#define QUILLMORE_XML_XML_HANDLES_H_

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>

#include <memory>

namespace quillmore {

struct XmlDeleter {
  void operator()(xmlDoc* p) const noexcept {
    if (p != nullptr) xmlFreeDoc(p);
  }
  void operator()(xmlChar* p) const noexcept {
    if (p != nullptr) xmlFree(p);
  }
  void operator()(xmlParserCtxt* p) const noexcept {
    if (p != nullptr) xmlFreeParserCtxt(p);
  }
  void operator()(xmlParserInputBuffer* p) const noexcept {
    if (p != nullptr) xmlFreeParserInputBuffer(p);
  }
  void operator()(xmlParserInput* p) const noexcept {
    if (p != nullptr) xmlFreeInputStream(p);
  }
  void operator()(xmlXPathContext* p) const noexcept {
    if (p != nullptr) xmlXPathFreeContext(p);
  }
  void operator()(xmlXPathObject* p) const noexcept {
    if (p != nullptr) xmlXPathFreeObject(p);
  }
  void operator()(xmlBuffer* p) const noexcept {
    if (p != nullptr) xmlBufferFree(p);
  }
  void operator()(xmlSaveCtxt* p) const noexcept {
    if (p != nullptr) xmlSaveClose(p);
  }
  void operator()(xsltStylesheet* p) const noexcept {
    if (p != nullptr) xsltFreeStylesheet(p);
  }
  void operator()(xsltTransformContext* p) const noexcept {
    if (p != nullptr) xsltFreeTransformContext(p);
  }
  void operator()(xsltSecurityPrefs* p) const noexcept {
    if (p != nullptr) xsltFreeSecurityPrefs(p);
  }
};

template <typename T>
using XmlPtr = std::unique_ptr<T, XmlDeleter>;

}  // namespace quillmore

#endif  // QUILLMORE_XML_XML_HANDLES_H_
