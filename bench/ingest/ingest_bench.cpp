// Ingest of 100,000 generated receipts into a fresh SQLite file by
// quillmore-host's ingest path: each record read from its JSON line, the
// library's INSERT for it, the f_id, and the library's user-table INSERTs
// made from the record's XML, run as text. Floor, in the same iteration: the
// same rows inserted by the host alone with prepared statements and bound
// values, no library, no XML. Both use the same tables, transactions of 1000
// records and SQLite's default settings. Reported: records per second of each,
// the ratio of their times (by the clock, and by this thread's processor time),
// the share of the ingest's time spent inside the library, and the host's own
// share (reading JSON, escaping: neither the library nor the database),
// of which reading JSON is the JSON share.
// Uses the sample till, device 4, in the DV folder beside the binary.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "engine.h"
#include "ingest.h"
#include "library_text.h"
#include "receipts.h"

namespace qmhost {
namespace {

constexpr int kDevice = 4;
constexpr int kReceipts = 100000;

const std::vector<Receipt>& Receipts() {
  static const std::vector<Receipt> all = [] {
    std::vector<Receipt> v;
    ReceiptGenerator gen(1);
    for (int i = 0; i < kReceipts; ++i) v.push_back(gen.Next());
    return v;
  }();
  return all;
}

const std::vector<std::string>& Lines() {
  static const std::vector<std::string> all = [] {
    std::vector<std::string> v;
    for (const Receipt& r : Receipts()) v.push_back(ToJsonLine(r.record));
    return v;
  }();
  return all;
}

double Now() {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// This thread's processor time: steadier than the clock on a busy machine.
double Cpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// A fresh database with the device's text table and user tables.
std::unique_ptr<Engine> Fresh(CQuillmoreExt& q, const std::string& path,
                              std::vector<std::string>& tables) {
  std::remove(path.c_str());
  std::string error;
  auto db = OpenSqlite(path, true, error);
  const std::string text_table = quillmore_tools::RecordText(
      [&](char* b, uint32_t n) { return q.GetTableName(b, n); });
  tables = Statements(quillmore_tools::BatchText(
      [&](char* b, uint32_t n) { return q.GetUserTableNames(kDevice, b, n); },
      quillmore_tools::UserTableEntryBound(q, kDevice)));
  tables.insert(tables.begin(), text_table);
  std::vector<std::string> ddl = SqliteTextTable(text_table);
  for (const std::string& s : Statements(quillmore_tools::BatchText(
           [&](char*b, uint32_t n) {
             return q.GetUserCreateQueryEx(kDevice, b, n);
           },
           quillmore_tools::UserTableEntryBound(q, kDevice)))) {
    ddl.push_back(s);
  }
  for (const std::string& s : ddl) {
    if (!db->Execute(s))
      std::fprintf(stderr, "%s: %s\n", s.c_str(), db->error().c_str());
  }
  return db;
}

void Floor(sqlite3* db, const std::vector<std::string>& tables) {
  sqlite3_stmt *text = nullptr, *main = nullptr, *item = nullptr;
  sqlite3_prepare_v2(db,
                     ("INSERT INTO " + tables[0] +
                      " (f_date, f_systime, f_cam, f_text, f_xml, "
                      "f_savepath, f_savepos) VALUES (?, ?, ?, ?, ?, ?, ?)")
                         .c_str(),
                     -1, &text, nullptr);
  sqlite3_prepare_v2(db,
                     ("INSERT INTO " + tables[1] +
                      " (f_id, f_total, f_cashier) VALUES (?, ?, ?)")
                         .c_str(),
                     -1, &main, nullptr);
  sqlite3_prepare_v2(
      db,
      ("INSERT INTO " + tables[2] + " (f_id, f_name, f_price) VALUES (?, ?, ?)")
          .c_str(),
      -1, &item, nullptr);
  auto bind = [](sqlite3_stmt* st, int i, const std::string& s) {
    sqlite3_bind_text(st, i, s.data(), static_cast<int>(s.size()),
                      SQLITE_STATIC);
  };
  int in_batch = 0;
  for (const Receipt& r : Receipts()) {
    if (in_batch == 0) sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    bind(text, 1, r.record.date);
    bind(text, 2, r.record.systime);
    sqlite3_bind_int(text, 3, r.record.camera);
    bind(text, 4, r.record.text);
    bind(text, 5, *r.record.xml);
    bind(text, 6, r.record.savepath);
    sqlite3_bind_int(text, 7, static_cast<int>(r.record.savepos));
    sqlite3_step(text);
    sqlite3_reset(text);
    const sqlite3_int64 id = sqlite3_last_insert_rowid(db);
    sqlite3_bind_int64(main, 1, id);
    bind(main, 2, r.total);
    bind(main, 3, r.cashier);
    sqlite3_step(main);
    sqlite3_reset(main);
    for (const Receipt::Item& i : r.items) {
      sqlite3_bind_int64(item, 1, id);
      bind(item, 2, i.name);
      bind(item, 3, i.price);
      sqlite3_step(item);
      sqlite3_reset(item);
    }
    if (++in_batch == 1000) {
      sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      in_batch = 0;
    }
  }
  if (in_batch != 0) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_finalize(text);
  sqlite3_finalize(main);
  sqlite3_finalize(item);
}

long long Count(const std::string& path, const std::string& table) {
  std::string error;
  auto db = OpenSqlite(path, false, error);
  Rows rows;
  db->Query("SELECT COUNT(*) FROM " + table, rows);
  return std::stoll(rows.values.at(0).at(0).value_or("0"));
}

void BM_Ingest100kReceipts(benchmark::State& state) {
  Lines();
  char tmpl[] = "/tmp/quillmore-ingest-bench-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string path = dir + "/bench.sqlite";
  CQuillmoreExt q;
  q.LoadData(kDevice);
  double library_total = 0, floor_total = 0, library_inside = 0;
  double database_inside = 0, json_inside = 0;
  double library_cpu = 0, floor_cpu = 0;
  long long rows = 0, floor_rows = 0;
  std::vector<std::string> tables;
  for (auto _ : state) {
    // The floor first, then the library, in every iteration.
    {
      auto db = Fresh(q, path, tables);
      db.reset();
      sqlite3* raw = nullptr;
      sqlite3_open(path.c_str(), &raw);
      const double start = Now(), cpu = Cpu();
      Floor(raw, tables);
      floor_total += Now() - start;
      floor_cpu += Cpu() - cpu;
      sqlite3_close(raw);
      floor_rows = Count(path, tables[2]);
    }
    auto db = Fresh(q, path, tables);
    long refused = 0;
    Ingest ingest(q, kDevice, *db, [&](const Ingest::Refusal&) { ++refused; });
    const double start = Now(), cpu = Cpu();
    long line = 0;
    Record record;
    std::string error;
    for (const std::string& json : Lines()) {
      bool parsed;
      {
        Timed t(json_inside);
        parsed = ParseJsonLine(json, record, error);
      }
      if (!parsed) ++refused;
      ingest.Add(++line, std::move(record));
    }
    ingest.Finish();
    const double took = Now() - start;
    library_cpu += Cpu() - cpu;
    library_total += took;
    library_inside += ingest.library_seconds;
    database_inside += ingest.database_seconds;
    state.SetIterationTime(took);
    db.reset();
    rows = Count(path, tables[2]);
    if (refused != 0 || rows != floor_rows)
      state.SkipWithError("the two ingests stored different rows");
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["records/s"] = kReceipts * n / library_total;
  state.counters["floor records/s"] = kReceipts * n / floor_total;
  state.counters["ratio to floor"] = library_total / floor_total;
  state.counters["cpu ratio to floor"] = library_cpu / floor_cpu;
  state.counters["library share %"] = 100 * library_inside / library_total;
  state.counters["host share %"] =
      100 * (library_total - library_inside - database_inside) / library_total;
  state.counters["JSON share %"] = 100 * json_inside / library_total;
  state.counters["item rows"] = static_cast<double>(rows);
  std::remove(path.c_str());
  rmdir(dir.c_str());
}

BENCHMARK(BM_Ingest100kReceipts)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace qmhost
