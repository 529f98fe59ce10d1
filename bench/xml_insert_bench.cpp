// GetUserInsertQuery on a 1.6 KB receipt with 30 item lines (user tables
// Total, Cashier and the group Item with name and price) against floors
// measured in the same iterations, interleaved, each producing the same
// statements:
// - parser off: one pass over the record with libxml2's SAX interface,
//   written directly for these three names;
// - parser on, with a stylesheet that renames elements: the record parsed
//   into a tree, the compiled stylesheet applied, the result tree read.
// Heap allocations are counted by the malloc family replaced in this binary
// (operator new allocates through malloc, and so do libxml2 and libxslt).
#include <benchmark/benchmark.h>
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxslt/transform.h>
#include <libxslt/xsltutils.h>
#include <time.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include "quillmore/QuillmoreExt.h"
#include "testing/test_installation.h"

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);
}

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

extern "C" void* malloc(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}
extern "C" void* calloc(std::size_t n, std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, n);
}
extern "C" void free(void* p) { __libc_free(p); }

namespace quillmore {
namespace {

// `total`, `cashier` and `item` name the elements of the receipt.
std::string Receipt(const char* root, const char* total, const char* cashier,
                    const char* items, const char* item) {
  std::string xml = std::string("<") + root + " store='0042' till='3'><" +
                    total + ">1234.50</" + total + "><" + cashier +
                    ">Ann O'Brien</" + cashier + "><" + items + ">";
  for (int i = 0; i < 30; ++i) {
    const std::string n = std::to_string(i);
    xml += std::string("<") + item + " name='Article " + n + "' price='" + n +
           ".25' qty='1.000'/>";
  }
  return xml + "</" + items + "></" + root + ">";
}

const std::string kReceipt =
    Receipt("Receipt", "Total", "Cashier", "Items", "Item");
const std::string kSale = Receipt("Sale", "Sum", "Clerk", "Lines", "Line");

constexpr const char* kRenaming =
    "<xsl:stylesheet version='1.0' "
    "xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
    "<xsl:template match='@*|node()'><xsl:copy>"
    "<xsl:apply-templates select='@*|node()'/></xsl:copy></xsl:template>"
    "<xsl:template match='Sale'><Receipt><xsl:apply-templates "
    "select='@*|node()'/></Receipt></xsl:template>"
    "<xsl:template match='Sum'><Total><xsl:apply-templates/></Total>"
    "</xsl:template><xsl:template match='Clerk'><Cashier><xsl:apply-templates/>"
    "</Cashier></xsl:template><xsl:template match='Lines'><Items>"
    "<xsl:apply-templates select='@*|node()'/></Items></xsl:template>"
    "<xsl:template match='Line'><Item><xsl:apply-templates select='@*|node()'/>"
    "</Item></xsl:template></xsl:stylesheet>";

// The statements, made by hand: the first Total and Cashier, and a row for
// every Item with a name or price.
struct Statements {
  void Start(std::string_view name) {
    ++depth;
    if (capture == nullptr && name == "Total" && !total_done) {
      capture = &total;
      total_done = true;
      capture_depth = depth;
    } else if (capture == nullptr && name == "Cashier" && !cashier_done) {
      capture = &cashier;
      cashier_done = true;
      capture_depth = depth;
    }
  }
  void End() {
    if (capture != nullptr && depth == capture_depth) capture = nullptr;
    --depth;
  }
  void Text(std::string_view text) {
    if (capture != nullptr) capture->append(text);
  }
  static void Quote(std::string& out, std::string_view value) {
    out += ",'";
    for (char c : value) {
      if (c == '\'') out += c;
      out += c;
    }
    out += '\'';
  }
  void Attribute(std::string_view name, std::string_view value) {
    if (name != "name" && name != "price") return;
    (columns += ",f_") += name;
    Quote(values, value);
  }
  void Row() {
    if (columns.empty()) return;
    rows.append("\nINSERT INTO USR_ITEM1_1A2B3C4D (f_id ")
        .append(columns)
        .append(") VALUES ( 42 ")
        .append(values)
        .append(")");
    columns.clear();
    values.clear();
  }
  std::string Result() {
    std::string out;
    out.reserve(rows.size() + 128);
    out.append(
        "INSERT INTO TBL_USER1_1A2B3C4D (f_id , f_total, f_cashier) "
        "VALUES ( 42 ");
    Quote(out, total);
    Quote(out, cashier);
    return out.append(")").append(rows);
  }
  int depth = 0, capture_depth = 0;
  bool total_done = false, cashier_done = false;
  std::string* capture = nullptr;
  std::string total, cashier, rows, columns, values;
};

void OnStart(void* ctx, const xmlChar* name, const xmlChar*, const xmlChar* uri,
             int, const xmlChar**, int count, int defaulted,
             const xmlChar** atts) {
  Statements& s = *static_cast<Statements*>(ctx);
  const std::string_view local(reinterpret_cast<const char*>(name));
  s.Start(s.depth > 0 && uri == nullptr ? local : std::string_view());
  if (s.depth < 2 || uri != nullptr || local != "Item") return;
  for (int i = 0; i < count - defaulted; ++i, atts += 5) {
    if (atts[1] != nullptr) continue;
    s.Attribute(reinterpret_cast<const char*>(atts[0]),
                std::string_view(reinterpret_cast<const char*>(atts[3]),
                                 static_cast<std::size_t>(atts[4] - atts[3])));
  }
  s.Row();
}
void OnEnd(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  static_cast<Statements*>(ctx)->End();
}
void OnText(void* ctx, const xmlChar* text, int length) {
  static_cast<Statements*>(ctx)->Text(std::string_view(
      reinterpret_cast<const char*>(text), static_cast<std::size_t>(length)));
}

std::string SaxFloor(const std::string& xml) {
  static xmlSAXHandler handler = [] {
    xmlSAXHandler h{};
    h.initialized = XML_SAX2_MAGIC;
    h.startElementNs = &OnStart;
    h.endElementNs = &OnEnd;
    h.characters = &OnText;
    h.cdataBlock = &OnText;
    return h;
  }();
  Statements s;
  xmlSAXUserParseMemory(&handler, &s, xml.data(), static_cast<int>(xml.size()));
  return s.Result();
}

void Walk(const xmlNode* node, Statements& s) {
  for (; node != nullptr; node = node->next) {
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      s.Text(reinterpret_cast<const char*>(node->content));
    }
    if (node->type != XML_ELEMENT_NODE) continue;
    const std::string_view name(reinterpret_cast<const char*>(node->name));
    s.Start(s.depth > 0 && node->ns == nullptr ? name : std::string_view());
    if (s.depth >= 2 && node->ns == nullptr && name == "Item") {
      for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
        if (a->ns == nullptr && a->children != nullptr) {
          s.Attribute(reinterpret_cast<const char*>(a->name),
                      reinterpret_cast<const char*>(a->children->content));
        }
      }
      s.Row();
    }
    Walk(node->children, s);
    s.End();
  }
}

std::string StylesheetFloor(xsltStylesheet* style, const std::string& xml) {
  xmlDoc* doc = xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr,
                              nullptr, XML_PARSE_NONET);
  xmlDoc* result = xsltApplyStylesheet(style, doc, nullptr);
  Statements s;
  Walk(result->children, s);
  xmlFreeDoc(result);
  xmlFreeDoc(doc);
  return s.Result();
}

// This thread's processor time: other work on a busy machine doesn't count.
double ThreadSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Runs `floor` and `library` in turn, once each per iteration, and reports
// both times per call, their ratio and the allocations per call. The
// manual time is the library's; `written` is what it wrote.
void Compare(benchmark::State& state, const std::function<std::string()>& floor,
             const std::function<std::uint32_t()>& library,
             const char* written) {
  if (floor() != std::string(written, library())) {
    state.SkipWithError("the floor and the library give different statements");
    return;
  }
  double floor_s = 0, library_s = 0;
  long floor_allocs = 0, library_allocs = 0;
  for (auto _ : state) {
    long allocs = g_allocations.load();
    double start = ThreadSeconds();
    benchmark::DoNotOptimize(floor());
    double took = ThreadSeconds() - start;
    floor_s += took;
    floor_allocs += g_allocations.load() - allocs;
    allocs = g_allocations.load();
    start = ThreadSeconds();
    benchmark::DoNotOptimize(library());
    took = ThreadSeconds() - start;
    library_s += took;
    library_allocs += g_allocations.load() - allocs;
    state.SetIterationTime(took);
  }
  const double calls = static_cast<double>(state.iterations());
  state.counters["floor us"] = floor_s / calls * 1e6;
  state.counters["library us"] = library_s / calls * 1e6;
  state.counters["ratio to floor"] = library_s / floor_s;
  state.counters["floor allocs"] = static_cast<double>(floor_allocs) / calls;
  state.counters["library allocs"] =
      static_cast<double>(library_allocs) / calls;
  state.counters["alloc ratio"] =
      static_cast<double>(library_allocs) / static_cast<double>(floor_allocs);
  state.SetLabel(std::to_string(kReceipt.size()) + "-byte receipt");
}

std::string DeviceFile(int use_parser, const std::string& xslt) {
  return "[GENERAL]\nDBTYPE=1\n[XML]\nUSEPARSER=" + std::to_string(use_parser) +
         "\nXSLT=" + xslt +
         "\nUSEUSERTABLE=1\n[USERTABLE]\nLEN=3\nELEMENT1=Total\n"
         "ELEMENT2=Cashier\nCHILDLEN3=2\nELEMENT3=Item\n[ELEMENT3]\n"
         "ELEMENT1=name\nELEMENT2=price\n";
}

void Insert(benchmark::State& state, bool use_parser) {
  TestInstallation inst;
  const std::string sheet = inst.dv() + "/rename.xsl";
  inst.Write("rename.xsl", kRenaming);
  inst.Write("devdata1.ini", DeviceFile(use_parser ? 1 : 0, sheet));
  CQuillmoreExt q;
  q.LoadData(1);
  xsltStylesheet* style =
      xsltParseStylesheetFile(reinterpret_cast<const xmlChar*>(sheet.c_str()));
  const std::string& record = use_parser ? kSale : kReceipt;
  std::string buffer(1 << 16, '\0');
  const auto library = [&] {
    return q.GetUserInsertQuery(42, record.c_str(), buffer.data(),
                                static_cast<std::uint32_t>(buffer.size()));
  };
  if (use_parser) {
    Compare(
        state, [&] { return StylesheetFloor(style, record); }, library,
        buffer.data());
  } else {
    Compare(
        state, [&] { return SaxFloor(record); }, library, buffer.data());
  }
  xsltFreeStylesheet(style);
}

void BM_InsertWithoutStylesheet(benchmark::State& state) {
  Insert(state, false);
}
void BM_InsertWithStylesheet(benchmark::State& state) { Insert(state, true); }

BENCHMARK(BM_InsertWithoutStylesheet)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InsertWithStylesheet)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quillmore
