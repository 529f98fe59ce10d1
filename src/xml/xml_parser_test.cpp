#include "xml/xml_parser.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <pthread.h>
#ifdef _WIN32
#include "platform/win32_api.h"
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "testing/test_installation.h"
#include "xml/record_reader.h"

namespace quillmore {
namespace {

// A stylesheet of the top-level elements `top`; `attributes` on the root.
std::string Sheet(const std::string& top,
                  const std::string& attributes = "version='1.0'") {
  return "<xsl:stylesheet xmlns:xsl='http://www.w3.org/1999/XSL/Transform' " +
         attributes + ">" + top + "</xsl:stylesheet>";
}

// One template, for the root, holding `body`.
std::string Root(const std::string& body) {
  return "<xsl:template match='/'>" + body + "</xsl:template>";
}

// `piece` numbered from 0 to n - 1, each followed by `tail`.
std::string Numbered(const std::string& piece, int n,
                     const std::string& tail = "='v'") {
  std::string out;
  for (int i = 0; i < n; ++i) out += piece + std::to_string(i) + tail;
  return out;
}

std::string Times(const std::string& piece, int n) {
  std::string out;
  while (n-- > 0) out += piece;
  return out;
}

// A record's text, or "!" when it fails. (The builder's tests pin the
// events of every kind of record.)
struct Text final : RecordHandler {
  bool OnStart(std::string_view, const RecordAttributes&) override {
    return true;
  }
  bool OnEnd() override { return true; }
  bool OnText(std::string_view text) override { return (s += text, true); }
  void Reset() override { s.clear(); }
  std::string s;
};

std::string Read(const std::string& xml) {
  Text text;
  return ReadRecord(xml.c_str(), text) ? text.s : "!";
}

std::string Apply(XmlParser& p, const char* xml) {
  Text text;
  return p.Transform(xml, text) ? text.s : "!";
}

// True when `body` returns true in a child process within 30 s, on a
// thread with a 256 KiB stack (1 MiB under AddressSanitizer, whose frames
// are larger) and, outside AddressSanitizer, whose shadow memory needs
// more, within 1 GiB of address space.
#ifdef _WIN32
// No fork: a thread of the test process with such a stack, without the
// address-space limit.
bool Bounded(const std::function<bool()>& body) {
  struct Run {
    const std::function<bool()>* body;
    bool ok;
  } run{&body, false};
  HANDLE t = ::CreateThread(
      nullptr, 256 << 10,
      [](LPVOID p) WINAPI -> DWORD {
        auto* r = static_cast<Run*>(p);
        r->ok = (*r->body)();
        return 0;
      },
      &run, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (t == nullptr) return false;
  const bool done = ::WaitForSingleObject(t, 30000) == WAIT_OBJECT_0;
  if (!done) ::TerminateThread(t, 1);
  ::CloseHandle(t);
  return done && run.ok;
}
#else
bool Bounded(const std::function<bool()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(30);
    pthread_attr_t attr;
    ::pthread_attr_init(&attr);
#ifdef __SANITIZE_ADDRESS__
    ::pthread_attr_setstacksize(&attr, 1 << 20);
#else
    ::pthread_attr_setstacksize(&attr, 256 << 10);
    const rlimit limit{std::size_t{1} << 30, std::size_t{1} << 30};
    ::setrlimit(RLIMIT_AS, &limit);
#endif
    ::pthread_setattr_default_np(&attr);
    bool ok = false;
    std::thread([&] { ok = body(); }).join();
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

// Hostile records fail at once, or at a bound still read, and never read an
// external entity or DTD. Hostile stylesheets fail; one that reaches a
// limit is dropped (a later record fails too); so are stylesheets that
// read or write files. Each within time, stack and memory, printing
// nothing; what stays within the limits works.
TEST(XmlParserTest, HostileRecordsAndStylesheetsStayWithinBounds) {
  TestInstallation inst;
  const std::string dv = inst.dv() + "/";
  inst.Write("secret.dtd", "<!ENTITY e 'SECRET'>");
  inst.Write("secret.xml", "<s>SECRET</s>");
  inst.Write("ok.xsl", Sheet(Root("<a/>")));
  const std::string big = "<!DOCTYPE R [<!ENTITY e '" + Times("x", 100000) +
                          "'>]>",
                    refs = Times("&e;", 10000), secret = dv + "secret.dtd",
                    scoped = Times("<e xmlns:p='v' xmlns:q='v'>", 128);
  std::string laughs = "<!DOCTYPE r [<!ENTITY l0 'lol'>";
  for (int i = 1; i <= 9; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " '" +
              Times("&l" + std::to_string(i - 1) + ";", 10) + "'>";
  }
  const std::pair<std::string, std::string> records[] = {
      // and its text
      {big + "<R><T>" + refs + "</T></R>", "!"},
      {big + "<R><T a='" + refs.substr(0, 3000) + "'/></R>", "!"},
      {laughs + "]><r>&l9;</r>", "!"},
      {Times("<a>", 100000), "!"},
      {"<R" + Numbered(" a", 256) + ">x</R>", "x"},
      {"<R" + Numbered(" a", 257) + ">x</R>", "!"},
      {"<R" + Numbered(" a", 200000) + "/>", "!"},
      {"<!DOCTYPE R [<!ENTITY e '&#60;R" + Numbered(" a", 257) +
           "/>'>]><R>&e;</R>",
       "!"},
      {"<!DOCTYPE R [<!ATTLIST R" + Numbered(" a", 32, " CDATA 'v'") +
           ">]><R>x</R>",
       "x"},
      {"<!DOCTYPE R [<!ATTLIST R" + Numbered(" a", 33, " CDATA 'v'") +
           ">]><R>x</R>",
       "!"},
      {scoped + "x<f/>" + Times("</e>", 128), "x"},
      {scoped + "x<f xmlns:r='u'/>" + Times("</e>", 128), "!"},
      {"<!DOCTYPE r [<!ENTITY e SYSTEM '" + secret + "'>]><r>x&e;</r>", "x"},
      {"<!DOCTYPE r SYSTEM '" + secret + "'><r>x&e;</r>", "x"},
      {"<!DOCTYPE r [<!ENTITY % p SYSTEM '" + secret + "'>%p;]><r>&e;</r>",
       "!"}};
  // f(n) calls itself with n - 1 where `body` holds an '@'.
  const auto f = [](const std::string& n, std::string body) {
    const auto call = [](const std::string& m) {
      return "<xsl:call-template name='f'><xsl:with-param name='n' select='" +
             m + "'/></xsl:call-template>";
    };
    for (std::size_t i; (i = body.find('@')) != std::string::npos;) {
      body.replace(i, 1, call("$n - 1"));
    }
    return Sheet(Root(call(n)) +
                 "<xsl:template name='f'><xsl:param "
                 "name='n'/><xsl:if test='$n &gt; 0'>" +
                 body + "</xsl:if></xsl:template>");
  };
  const auto value = [](const std::string& select,
                        const std::string& vars = "") {
    return Sheet(Root(vars + "<R><xsl:value-of select='" + select + "'/></R>"));
  };
  // Strings and result tree fragments that double 40 times.
  std::string strings = "<xsl:variable name='s0' select='\"" +
                        Times("s", 1000) + "\"'/>",
              fragments = "<xsl:variable name='r0' select='$s0'/>";
  for (int i = 1; i <= 40; ++i) {
    const std::string n = std::to_string(i), m = std::to_string(i - 1);
    strings += "<xsl:variable name='s" + n + "' select='concat($s" + m + ",$s" +
               m + ")'/>";
    fragments += "<xsl:variable name='r" + n + "'><xsl:value-of select='$r" +
                 m + "'/><xsl:value-of select='$r" + m + "'/></xsl:variable>";
  }
  const std::string latin1 = "<?xml version='1.0' encoding='ISO-8859-1'?>";
  // The text of the record below, and then of <r/>.
  const std::tuple<std::string, std::string, std::string> sheets[] = {
      {f("40", "<b>@@</b>"), "!", "!"},
      {f("67108864", "@"), "!", "!"},
      {f("10000", "<a>@</a>"), "!", "!"},
      {value("string-length($s40)", strings), "!", "!"},
      {value("$r40", strings + fragments), "!", "!"},
      {Sheet(Root("<R><xsl:for-each select='//*'><xsl:copy-of select='/'/>"
                  "</xsl:for-each></R>")),
       "!", "!"},
      {value("count(/" + Times("|/", 3000) + ")"), "!", "!"},
      {value(Times("(", 150) + "1" + Times(")", 150)), "!", "!"},
      {value("document('" + dv + "secret.xml')/s"), "!", "!"},
      {Sheet("<xsl:import href='" + dv + "ok.xsl'/>"), "!", "!"},
      {Sheet(Root("<e:document href='" + dv + "w.xml'><x/></e:document>"),
             "version='1.0' extension-element-prefixes='e' "
             "xmlns:e='http://exslt.org/common'"),
       "!", "!"},
      {Sheet(Root("<xsl:message terminate='yes'>hi</xsl:message>")), "!", "!"},
      {Sheet(Root("<xsl:message>hi</xsl:message><a>m</a>")), "m", "m"},
      {f("45", "<b>@</b>"), "", ""},
      {value(Times("(", 149) + "1" + Times(")", 149)), "1", "1"},
      {latin1 + Sheet("<xsl:output encoding='ISO-8859-1'/>" +
                      Root("<O>\xE9<xsl:value-of select='//i/@v'/></O>")),
       "\xC3\xA9\xC3\xBC", "\xC3\xA9"}};
  const std::string record =
      "<r><i v='\xC3\xBC'/>" + Times("<i/>", 3000) + "</r>";
  testing::internal::CaptureStderr();
  EXPECT_TRUE(Bounded([&] {
    bool ok = true;
    for (const auto& [xml, text] : records) {
      if (Read(xml) != text) ok = !std::fprintf(stderr, "%.60s\n", xml.c_str());
    }
    for (const auto& [sheet, text, then] : sheets) {
      inst.Write("h.xsl", sheet);
      XmlParser p;
      p.LoadStylesheet((dv + "h.xsl").c_str());
      if (Apply(p, record.c_str()) != text || Apply(p, "<r/>") != then) {
        ok = !std::fprintf(stderr, "%.200s\n", sheet.c_str());
      }
    }
    return ok;
  }));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(inst.Exists("w.xml"));
}

// Files are read in their own encoding, namespaces included. None but t.xsl
// is a stylesheet; after a failed load none is held.
TEST(XmlParserTest, FilesAreReadInTheirOwnEncoding) {
  TestInstallation inst;
  const std::string dv = inst.dv() + "/";
  inst.Write("t.xsl", Sheet(Root("<a>t</a>")));
  inst.Write("latin1.xml",
             "<?xml version='1.0' encoding='ISO-8859-1'?><a>\xE9</a>");
  inst.Write("unbound.xml", "<x:a/>");
  inst.Write("bad.xsl", "<xsl:stylesheet");
  const std::pair<const char*, bool> files[] = {
      {"t.xsl", true},    {"latin1.xml", true}, {"unbound.xml", false},
      {"bad.xsl", false}, {"none.xsl", false},  {"", false}};
  XmlParser p;
  for (const auto& [name, valid] : files) {
    EXPECT_EQ(p.ValidateFile((dv + name).c_str()), valid) << name;
    const bool sheet = valid && name[0] == 't';
    EXPECT_EQ(p.LoadStylesheet((dv + name).c_str()), sheet) << name;
    EXPECT_EQ(Apply(p, "<r/>"), sheet ? "t" : "!") << name;
  }
  EXPECT_FALSE(p.ValidateFile(nullptr));
  EXPECT_EQ(Apply(p, nullptr), "!");
}

// Outside our calls a host's own use of libxml2 behaves as before: its
// error handlers are back after a failure, and its own entity substitution
// goes through the entity loader.
TEST(XmlParserTest, HostsOwnUseIsUnchanged) {
  TestInstallation inst;
  const xmlGenericErrorFunc generic = xmlGenericError;
  const xmlStructuredErrorFunc structured = xmlStructuredError;
  EXPECT_EQ(Read("<r"), "!");
  EXPECT_EQ(xmlGenericError, generic);
  EXPECT_EQ(xmlStructuredError, structured);
  inst.Write("secret.xml", "<s>SECRET</s>");
  inst.Write("doc.xml",
             "<!DOCTYPE r [<!ENTITY e SYSTEM 'secret.xml'>]><r>&e;</r>");
  xmlDoc* doc = xmlReadFile((inst.dv() + "/doc.xml").c_str(), nullptr,
                            XML_PARSE_NOENT | XML_PARSE_NOERROR);
  ASSERT_NE(doc, nullptr);
  xmlChar* text = xmlNodeGetContent(xmlDocGetRootElement(doc));
  EXPECT_STREQ(reinterpret_cast<const char*>(text), "SECRET");
  xmlFree(text);
  xmlFreeDoc(doc);
}

// Separate parsers on separate threads, each with its own limits.
TEST(XmlParserTest, SeparateObjectsWorkOnSeparateThreads) {
  TestInstallation inst;
  inst.Write("t.xsl", Sheet(Root("<R><xsl:value-of select='//v'/></R>")));
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        XmlParser p;
        const std::string v = std::to_string(t * 100 + i);
        p.LoadStylesheet((inst.dv() + "/t.xsl").c_str());
        good += Apply(p, ("<r><v>" + v + "</v></r>").c_str()) == v;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(good, 100);
}

}  // namespace
}  // namespace quillmore
