#include "xml/xml_library.h"

#include <libxml/globals.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltutils.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "xml/xml_handles.h"

namespace quillmore {
namespace {

// Depth of XmlCallScope objects on this thread.
thread_local int t_scope_depth = 0;
thread_local AllocationBudget* t_budget = nullptr;

// The allocation functions in place before ours; ours pass every call on.
xmlFreeFunc g_free = nullptr;
xmlMallocFunc g_malloc = nullptr;
xmlMallocFunc g_malloc_atomic = nullptr;
xmlReallocFunc g_realloc = nullptr;
xmlStrdupFunc g_strdup = nullptr;

void* CountedMalloc(std::size_t n) {
  if (t_budget != nullptr) t_budget->Add(n);
  return g_malloc(n);
}
void* CountedMallocAtomic(std::size_t n) {
  if (t_budget != nullptr) t_budget->Add(n);
  return g_malloc_atomic(n);
}
void* CountedRealloc(void* p, std::size_t n) {
  if (t_budget != nullptr) t_budget->Add(n);
  return g_realloc(p, n);
}
char* CountedStrdup(const char* s) {
  if (t_budget != nullptr && s != nullptr) t_budget->Add(std::strlen(s) + 1);
  return g_strdup(s);
}

std::atomic<xmlExternalEntityLoader> g_previous_loader{nullptr};
struct ErrorChannel {
  xmlGenericErrorFunc handler;
  void* context;
};
std::atomic<const ErrorChannel*> g_previous_xslt_channel{nullptr};

// During our calls every external resource is refused; outside them the
// loader installed before ours decides.
xmlParserInputPtr ScopedEntityLoader(const char* url, const char* id,
                                     xmlParserCtxtPtr context) {
  if (t_scope_depth > 0) return nullptr;
  xmlExternalEntityLoader previous = g_previous_loader.load();
  return previous != nullptr ? previous(url, id, context) : nullptr;
}

// During our calls a message is dropped; outside them it goes to the
// channel installed before ours.
__attribute__((format(printf, 2, 3))) void ScopedXsltError(void*,
                                                           const char* message,
                                                           ...) {
  if (t_scope_depth > 0) return;
  const ErrorChannel* previous = g_previous_xslt_channel.load();
  if (previous == nullptr || previous->handler == nullptr) return;
  char text[2048];
  va_list args;
  va_start(args, message);
  std::vsnprintf(text, sizeof text, message, args);
  va_end(args);
  previous->handler(previous->context, "%s", text);
}

xsltSecurityPrefs* MakeForbiddingPrefs() {
  XmlPtr<xsltSecurityPrefs> prefs(xsltNewSecurityPrefs());
  if (!prefs) return nullptr;
  for (xsltSecurityOption option :
       {XSLT_SECPREF_READ_FILE, XSLT_SECPREF_WRITE_FILE,
        XSLT_SECPREF_CREATE_DIRECTORY, XSLT_SECPREF_READ_NETWORK,
        XSLT_SECPREF_WRITE_NETWORK}) {
    if (xsltSetSecurityPrefs(prefs.get(), option, xsltSecurityForbid) != 0) {
      return nullptr;
    }
  }
  return prefs.release();
}

// Returns the security preferences; never freed, as a transformation may
// run on another thread while the process ends.
xsltSecurityPrefs* SetUp() {
  static xsltSecurityPrefs* const prefs = [] {
    xmlInitParser();
    xsltInit();
    // Previous hooks are stored before ours go in: another thread may call
    // ours as soon as they are installed.
    if (xmlGcMemGet(&g_free, &g_malloc, &g_malloc_atomic, &g_realloc,
                    &g_strdup) == 0) {
      xmlGcMemSetup(g_free, &CountedMalloc, &CountedMallocAtomic,
                    &CountedRealloc, &CountedStrdup);
    }
    g_previous_loader.store(xmlGetExternalEntityLoader());
    xmlSetExternalEntityLoader(&ScopedEntityLoader);
    static const ErrorChannel previous_channel{xsltGenericError,
                                               xsltGenericErrorContext};
    g_previous_xslt_channel.store(&previous_channel);
    xsltSetGenericErrorFunc(nullptr, &ScopedXsltError);
    return MakeForbiddingPrefs();
  }();
  return prefs;
}

}  // namespace

void IgnoreStructuredError(void*, XmlErrorPointer) noexcept {}
void IgnoreGenericError(void*, const char*, ...) noexcept {}

xsltSecurityPrefs* ForbiddingSecurityPrefs() { return SetUp(); }

XmlCallScope::XmlCallScope() {
  SetUp();
  generic_ = xmlGenericError;
  generic_context_ = xmlGenericErrorContext;
  structured_ = xmlStructuredError;
  structured_context_ = xmlStructuredErrorContext;
  ++t_scope_depth;
  xmlSetGenericErrorFunc(nullptr, &IgnoreGenericError);
  xmlSetStructuredErrorFunc(nullptr, &IgnoreStructuredError);
}

XmlCallScope::~XmlCallScope() {
  xmlSetStructuredErrorFunc(structured_context_, structured_);
  xmlSetGenericErrorFunc(generic_context_, generic_);
  --t_scope_depth;
}

AllocationBudget::AllocationBudget(std::size_t limit) : limit_(limit) {
  SetUp();
  t_budget = this;
}

AllocationBudget::~AllocationBudget() { t_budget = nullptr; }

void AllocationBudget::Add(std::size_t bytes) {
  used_ += bytes;
  if (used_ > limit_ && stop_ != nullptr) stop_->state = XSLT_STATE_STOPPED;
}

}  // namespace quillmore
