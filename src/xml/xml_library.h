// The process-wide set-up of libxml2 and libxslt, and the scope every call
// of ours into them runs in (XmlParser's operations, ReadRecord).
//
// Set-up happens once per process, on first use, and is safe from several
// threads. It installs hooks that act only while a library call is running
// on the calling thread and hand everything else on to what was installed
// before, so a host that uses libxml2 itself keeps its own behaviour:
// - an external entity loader that refuses every external resource
//   (entities, DTDs, xsl:import/include, document()) during our calls;
// - a libxslt generic error channel that swallows messages during our calls
//   (stylesheet compilation has no per-context channel);
// - allocation functions that count what libxml2 and libxslt allocate on a
//   thread while an AllocationBudget lives there (libxslt has no per-context
//   memory limit) and otherwise only pass each call on.
//
// Only files under src/xml/ include this header.
#ifndef QUILLMORE_XML_XML_LIBRARY_H_
#define QUILLMORE_XML_XML_LIBRARY_H_

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxslt/security.h>
#include <libxslt/xsltInternals.h>

#include <cstddef>

namespace quillmore {

// Parser options for every document: no network, no external DTD, no
// entity substitution (so no external entity is ever read), and the
// default size, depth and entity-amplification limits (never
// XML_PARSE_HUGE). Messages are off; errors still fail the parse.
inline constexpr int kXmlParseOptions =
    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

// What a structured error handler receives: libxml2 2.12 and later declare
// `const xmlError*` (xmlStructuredErrorFunc), earlier versions `xmlError*`.
#if LIBXML_VERSION >= 21200
using XmlErrorPointer = const xmlError*;
#else
using XmlErrorPointer = xmlError*;
#endif

// Handlers that drop a message; for per-context error channels.
void IgnoreStructuredError(void* context, XmlErrorPointer error) noexcept;
void IgnoreGenericError(void* context, const char* message, ...) noexcept;

// Security preferences for every transformation: reading and writing
// files, creating folders and any network access are forbidden. Owned by
// the library for the life of the process; read-only after set-up.
xsltSecurityPrefs* ForbiddingSecurityPrefs();

// While an object lives, on this thread: the library is set up, external
// resources are refused, and libxml2's thread-local generic and structured
// error channels swallow everything (the previous handlers come back at the
// end). Nestable. An exception (only memory exhaustion raises one) passes
// through; the facade's barrier turns it into a failure result.
class XmlCallScope {
 public:
  XmlCallScope();
  XmlCallScope(const XmlCallScope&) = delete;
  XmlCallScope& operator=(const XmlCallScope&) = delete;
  ~XmlCallScope();

 private:
  xmlGenericErrorFunc generic_;
  void* generic_context_;
  xmlStructuredErrorFunc structured_;
  void* structured_context_;
};

// While an object lives, the bytes libxml2 and libxslt allocate on this
// thread are counted (what is freed is not taken off). Past `limit` it is
// exceeded() and the transformation given to Stop() is stopped; the
// allocation itself still succeeds, so no library meets a failing one. One
// object per thread at a time.
class AllocationBudget {
 public:
  explicit AllocationBudget(std::size_t limit);
  AllocationBudget(const AllocationBudget&) = delete;
  AllocationBudget& operator=(const AllocationBudget&) = delete;
  ~AllocationBudget();

  void Stop(xsltTransformContext* transformation) { stop_ = transformation; }
  bool exceeded() const { return used_ > limit_; }
  // Called by the allocation functions.
  void Add(std::size_t bytes);

 private:
  std::size_t limit_;
  std::size_t used_ = 0;
  xsltTransformContext* stop_ = nullptr;
};

}  // namespace quillmore

#endif  // QUILLMORE_XML_XML_LIBRARY_H_
