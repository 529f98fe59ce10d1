// The statements a host asks for per record and per search, through the
// facade into the caller's buffer, against snprintf of the same statement
// into the same buffer in the same iterations: GetInsertQueryEx of a
// 2.4 KB statement, and GetSelectQueryByItemIndex with a user-table and an
// XML condition.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench_pair.h"
#include "quillmore/QuillmoreExt.h"
#include "search/test_records.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

constexpr const char* kTable = "TBL_TEXTDATAEX1_1A2B3C4D";

// Checks that the library's call (`get`, giving the length) and the floor
// write the same statement into `buf`, then runs the pair.
template <typename Get, typename Floor>
void RunSameStatement(benchmark::State& state, const char* buf, Get get,
                      Floor floor) {
  const std::uint32_t n = get();
  const std::string ours(buf, n);
  floor();
  if (n == 0 || ours != buf) {
    state.SkipWithError("the statements differ");
    return;
  }
  RunPair(
      state, [&] { benchmark::DoNotOptimize(get()); }, floor);
  state.SetLabel(std::to_string(n) + " bytes");
}

void BM_GetInsertQueryEx(benchmark::State& state) {
  TestInstallation inst;
  inst.Write("devdata1.ini", "[GENERAL]\nDBTYPE=1\n");
  CQuillmoreExt q;
  q.LoadData(1);
  std::string text, xml = "<Receipt>";
  for (int i = 0; text.size() + xml.size() < 2250; ++i) {
    const std::string n = std::to_string(i);
    text += "ITEM " + n + "      " + n + ".99\r\n";
    xml += "<Item name='ITEM " + n + "' price='" + n + ".99'/>";
  }
  xml += "</Receipt>";
  const char* date = "2026-12-02 14:03:22";
  const char* path = "/var/lib/recorder/cam3/20261202/140322.avi";
  char buf[4096];
  auto library = [&] {
    return q.GetInsertQueryEx(3, date, date, text.c_str(), xml.c_str(), path,
                              123456, buf, sizeof buf);
  };
  auto floor = [&] {
    benchmark::DoNotOptimize(std::snprintf(
        buf, sizeof buf,
        "INSERT INTO %s (f_date, f_systime, f_cam, f_text, f_xml, "
        "f_savepath, f_savepos) VALUES ('%s', '%s', %d, '%s', '%s', '%s', %d)",
        kTable, date, date, 3, text.c_str(), xml.c_str(), path, 123456));
  };
  RunSameStatement(state, buf, library, floor);
}

void BM_GetSelectQueryByItemIndex(benchmark::State& state) {
  TestInstallation inst;
  inst.Write("devdata1.ini",
             "[GENERAL]\nDBTYPE=2\n[ITEMSEARCH]\nLEN=2\n[S1]\nTYPE=1\n"
             "TABLE=USR_TOTAL1_1A2B3C4D\nFIELD=f_total\nFINDNUMBER=1\n"
             "[S2]\nTYPE=0\nELEMENT=Cashier\n");
  CQuillmoreExt q;
  q.LoadData(1);
  _tagSEARCHPARAM params[2] = {testing::Param(0, "10", 2, "20", 4),
                               testing::Param(1, "Ann")};
  const char* from = "2026-12-01 00:00:00";
  const char* to = "2026-12-31 23:59:59";
  char buf[1024];
  auto library = [&] {
    return q.GetSelectQueryByItemIndex(3, from, to, params, 2, 0, buf,
                                       sizeof buf);
  };
  auto floor = [&] {
    benchmark::DoNotOptimize(std::snprintf(
        buf, sizeof buf,
        "SELECT m.f_id as f_id, f_date, f_systime, f_savepath, f_savepos, "
        "f_cam, f_text FROM %s m INNER JOIN %s ON m.f_id =  %s.f_id  WHERE "
        "((CAST(%s.%s as decimal(18, 5)) %s %s and CAST(%s.%s as "
        "decimal(18, 5)) %s %s) and (m.f_xml.exist('//*/%s[%s = \"%s\"]') = "
        "1)) and m.f_cam = %d and (m.f_date between '%s' and '%s') order by "
        "m.f_id",
        kTable, "USR_TOTAL1_1A2B3C4D", "USR_TOTAL1_1A2B3C4D",
        "USR_TOTAL1_1A2B3C4D", "f_total", ">=", "10", "USR_TOTAL1_1A2B3C4D",
        "f_total", "<=", "20", "Cashier", "(text())", "Ann", 3, from, to));
  };
  RunSameStatement(state, buf, library, floor);
}

BENCHMARK(BM_GetInsertQueryEx)->UseManualTime();
BENCHMARK(BM_GetSelectQueryByItemIndex)->UseManualTime();

}  // namespace
}  // namespace quillmore
