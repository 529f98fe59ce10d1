// GetUserInsertQuery with and without a stylesheet, and the share of the
// serialise-and-parse-again step in the stylesheet case. Baseline: the
// insert without a stylesheet.
#include <benchmark/benchmark.h>

#include <string>

#include "quillmore/QuillmoreExt.h"
#include "testing/test_installation.h"
#include "xml/xml_parser.h"

namespace quillmore {
namespace {

std::string Receipt(int items) {
  std::string xml =
      "<Receipt><Total>12.50</Total><Cashier>Ann</Cashier><Items>";
  for (int i = 0; i < items; ++i) {
    xml += "<Item name='Item " + std::to_string(i) + "' price='" +
           std::to_string(i) + ".00' qty='1'/>";
  }
  return xml + "</Items></Receipt>";
}

constexpr const char* kIdentity =
    "<xsl:stylesheet version='1.0' "
    "xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
    "<xsl:template match='@*|node()'><xsl:copy>"
    "<xsl:apply-templates select='@*|node()'/></xsl:copy></xsl:template>"
    "</xsl:stylesheet>";

std::string DeviceFile(int use_parser, const std::string& xslt) {
  return "[GENERAL]\nDBTYPE=1\n[XML]\nUSEPARSER=" + std::to_string(use_parser) +
         "\nXSLT=" + xslt +
         "\nUSEUSERTABLE=1\n[USERTABLE]\nLEN=3\nCHILDLEN1=0\nELEMENT1=Total\n"
         "CHILDLEN2=0\nELEMENT2=Cashier\nCHILDLEN3=2\nELEMENT3=Item\n"
         "[ELEMENT3]\nELEMENT1=name\nELEMENT2=price\n";
}

void Insert(benchmark::State& state, int use_parser) {
  TestInstallation inst;
  inst.Write("id.xsl", kIdentity);
  inst.Write("devdata1.ini", DeviceFile(use_parser, inst.dv() + "/id.xsl"));
  CQuillmoreExt q;
  q.LoadData(1);
  const std::string xml = Receipt(static_cast<int>(state.range(0)));
  std::string buf(1 << 20, '\0');
  for (auto _ : state) {
    benchmark::DoNotOptimize(q.GetUserInsertQuery(
        42, xml.c_str(), buf.data(), static_cast<std::uint32_t>(buf.size())));
  }
}

void BM_InsertWithoutStylesheet(benchmark::State& state) { Insert(state, 0); }
void BM_InsertWithStylesheet(benchmark::State& state) { Insert(state, 1); }

// The step a direct use of the transformation's result would save: the
// transformed text parsed again.
void BM_ParseTransformedText(benchmark::State& state) {
  TestInstallation inst;
  inst.Write("id.xsl", kIdentity);
  XmlParser p;
  p.LoadStylesheet((inst.dv() + "/id.xsl").c_str());
  std::string out;
  p.Transform(Receipt(static_cast<int>(state.range(0))).c_str(), out);
  for (auto _ : state) {
    XmlParser content;
    benchmark::DoNotOptimize(content.LoadText(out.c_str()));
  }
}

// Parse of the record, transformation and serialisation.
void BM_Transform(benchmark::State& state) {
  TestInstallation inst;
  inst.Write("id.xsl", kIdentity);
  XmlParser p;
  p.LoadStylesheet((inst.dv() + "/id.xsl").c_str());
  const std::string xml = Receipt(static_cast<int>(state.range(0)));
  std::string out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(p.Transform(xml.c_str(), out));
  }
}

BENCHMARK(BM_InsertWithoutStylesheet)->Arg(3)->Arg(100);
BENCHMARK(BM_InsertWithStylesheet)->Arg(3)->Arg(100);
BENCHMARK(BM_ParseTransformedText)->Arg(3)->Arg(100);
BENCHMARK(BM_Transform)->Arg(3)->Arg(100);

}  // namespace
}  // namespace quillmore
