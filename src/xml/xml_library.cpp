#include "xml/xml_library.h"

#include <libxml/globals.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltutils.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "xml/xml_handles.h"

namespace quillmore {
namespace {

// Depth of XmlCallScope objects on this thread.
thread_local int t_scope_depth = 0;

std::atomic<xmlExternalEntityLoader> g_previous_loader{nullptr};
struct ErrorChannel {
  xmlGenericErrorFunc handler;
  void* context;
};
std::atomic<const ErrorChannel*> g_previous_xslt_channel{nullptr};

xmlParserInputPtr GuardedEntityLoader(const char* url, const char* id,
                                      xmlParserCtxtPtr context) {
  if (t_scope_depth > 0) return nullptr;
  xmlExternalEntityLoader previous = g_previous_loader.load();
  return previous != nullptr ? previous(url, id, context) : nullptr;
}

__attribute__((format(printf, 2, 3))) void GuardedXsltError(void*,
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
    g_previous_loader.store(xmlGetExternalEntityLoader());
    xmlSetExternalEntityLoader(&GuardedEntityLoader);
    static const ErrorChannel previous_channel{xsltGenericError,
                                               xsltGenericErrorContext};
    g_previous_xslt_channel.store(&previous_channel);
    xsltSetGenericErrorFunc(nullptr, &GuardedXsltError);
    return MakeForbiddingPrefs();
  }();
  return prefs;
}

}  // namespace

void IgnoreStructuredError(void*, xmlError*) noexcept {}
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

}  // namespace quillmore
