// quillmore-host: the reference host. It runs the SQL the library produces
// against a real database (SQLite, which reads the SQL Server forms of the
// statements) along the whole road of a text record: create the tables,
// insert records and their user-table rows, browse, search, prune, drop.
// It uses only the public interface and exits non-zero when a statement
// fails or a result is not what the records imply.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "quillmore/QuillmoreExt.h"

namespace {

constexpr int kDevice = 1;
constexpr int kDatabaseType = 2;
int g_failures = 0;

template <typename F>
std::string Text(F get) {
  for (uint32_t size = 256; size <= (1u << 24); size *= 4) {
    std::vector<char> buf(size, '\0');
    uint32_t n = get(buf.data(), size);
    if (n != 0) return std::string(buf.data(), n);
  }
  return std::string();
}

std::vector<std::string> Lines(const std::string& batch) {
  std::vector<std::string> out;
  std::istringstream in(batch);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) out.push_back(line);
  }
  return out;
}

// The library puts values in quotes as they are; doubling a quote is the
// host's part.
std::string Quoted(const std::string& s) {
  std::string out;
  for (char c : s) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out;
}

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  if (!ok) ++g_failures;
}

class Database {
 public:
  explicit Database(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
      std::fprintf(stderr, "can't open %s\n", path.c_str());
      std::exit(2);
    }
  }
  ~Database() { sqlite3_close(db_); }

  bool Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) !=
        SQLITE_OK) {
      std::printf("FAIL %s\n     %s\n", sql.c_str(), error ? error : "");
      sqlite3_free(error);
      ++g_failures;
      return false;
    }
    return true;
  }
  bool ExecBatch(const std::string& batch) {
    bool ok = true;
    for (const std::string& s : Lines(batch)) ok = Exec(s) && ok;
    return ok;
  }
  // Rows the statement returns, -1 when it fails.
  long Count(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      std::printf("FAIL %s\n     %s\n", sql.c_str(), sqlite3_errmsg(db_));
      ++g_failures;
      return -1;
    }
    long rows = 0;
    while (sqlite3_step(st) == SQLITE_ROW) ++rows;
    sqlite3_finalize(st);
    return rows;
  }
  long long LastId() { return sqlite3_last_insert_rowid(db_); }

 private:
  sqlite3* db_ = nullptr;
};

struct Record {
  const char* date;
  const char* text;
  const char* xml;
};

const Record kRecords[] = {
    {"2026-12-01 09:00:00", "TOTAL 12.50 CARD",
     "<Receipt><Total>12.50</Total><Cashier>Ann</Cashier><Items>"
     "<Item name='Tea' price='2.00' qty='1'/><Item price='10.50' name='Cake'/>"
     "</Items></Receipt>"},
    {"2026-12-02 10:00:00", "TOTAL 3.00 CASH",
     "<Receipt><Total>3.00</Total><Cashier>Bob</Cashier><Items>"
     "<Item name='Coffee' price='3.00'/></Items></Receipt>"},
    {"2026-12-03 11:00:00", "TOTAL 7.25 CARD VOID",
     "<Receipt><Total>7.25</Total><Cashier>Ann</Cashier><Items>"
     "<Item name='Bun' price='7.25'/></Items></Receipt>"},
    {"2026-12-04 12:00:00", "TOTAL 99.00 CARD",
     "<Receipt><Total>99.00</Total><Cashier>O'Neil</Cashier><Items>"
     "<Item name='Tart &amp; cream' price='99.00'/></Items></Receipt>"},
};

}  // namespace

int main(int argc, char** argv) {
  std::string path = argc > 1 ? argv[1] : "";
  char temp[] = "/tmp/quillmore-host-XXXXXX";
  if (path.empty()) {
    int fd = mkstemp(temp);
    if (fd < 0) return 2;
    close(fd);
    path = temp;
  }
  CQuillmoreExt q;
  q.LoadData(kDevice);
  Database db(path);

  // The user-table item searches this device's main user table, whose name
  // carries this installation's serial.
  std::vector<std::string> tables = Lines(Text([&](char* b, uint32_t n) {
    return q.GetUserTableNames(kDevice, b, n);
  }));
  Check(tables.size() == 2, "two user tables");
  if (tables.size() != 2) return 1;
  _tagITEMSEARCHINFO cashier;
  std::memset(&cashier, 0, sizeof cashier);
  Check(q.GetItemSearchElementByIndex(kDevice, 0, &cashier) == 1,
        "read search item 0");
  std::snprintf(cashier.szTable, sizeof cashier.szTable, "%s",
                tables[0].c_str());
  q.SetItemSearchElementByIndex(kDevice, 0, &cashier);

  const std::string text_table =
      Text([&](char* b, uint32_t n) { return q.GetTableName(b, n); });
  Check(db.Exec(Text([&](char* b, uint32_t n) {
          return q.GetCreateQuery(kDatabaseType, b, n);
        })),
        "create the text table " + text_table);
  Check(db.ExecBatch(Text([&](char* b, uint32_t n) {
          return q.GetUserCreateQueryEx(kDevice, b, n);
        })),
        "create the user tables");

  for (const Record& r : kRecords) {
    char insert[4096];
    uint32_t n = q.GetInsertQueryEx(
        3, r.date, "00:00:00.000", Quoted(r.text).c_str(),
        Quoted(r.xml).c_str(), "/rec/cam3/file.avi", 4096, insert,
        sizeof insert);
    Check(n != 0 && db.Exec(std::string(insert, n)), "insert a text record");
    const int id = static_cast<int>(db.LastId());
    std::string rows = Text([&](char* b, uint32_t s) {
      return q.GetUserInsertQuery(id, r.xml, b, s);
    });
    Check(!rows.empty() && db.ExecBatch(rows), "insert its user-table rows");
  }
  Check(db.Count("SELECT * FROM " + tables[0] + " WHERE f_cashier = 'O''Neil'") == 1,
        "a quote in an XML value stays inside its literal");

  // Browse: the group table is joined, so a record gives one row per item.
  std::string browse = Text([&](char* b, uint32_t n) {
    return q.GetSelectQueryByDateTime("2026-12-01 00:00:00",
                                      "2026-12-03 23:59:59", b, n);
  });
  Check(db.Count(browse) == 4, "browse three days: four item rows");

  // Search: free text, then the user-table field.
  auto search = [&](std::vector<_tagSEARCHPARAM> params, int mode) {
    return db.Count(Text([&](char* b, uint32_t n) {
      return q.GetSelectQueryByItemIndex(
          3, "2026-12-01 00:00:00", "2026-12-31 23:59:59", params.data(),
          static_cast<uint32_t>(params.size()), mode, b, n);
    }));
  };
  _tagSEARCHPARAM card;
  std::memset(&card, 0, sizeof card);
  card.nItemIndex = -1;
  std::strcpy(card.szValue1, "CARD");
  Check(search({card}, 0) == 3, "free-text search finds three records");
  _tagSEARCHPARAM ann;
  std::memset(&ann, 0, sizeof ann);
  ann.nItemIndex = 0;
  std::strcpy(ann.szValue1, "Ann");
  Check(search({ann}, 0) == 2, "user-table search finds Ann's two records");
  Check(search({card, ann}, 0) == 2, "both, joined with AND");
  Check(search({card, ann}, 1) == 3, "either, joined with OR");

  // The keyword item in memory: CARD without VOID.
  _tagSEARCHPARAM keyword;
  std::memset(&keyword, 0, sizeof keyword);
  keyword.nItemIndex = 1;
  int matches = 0;
  for (const Record& r : kRecords)
    matches += q.IsValidSearchRecord(r.text, &keyword, 1, 0);
  Check(matches == 2, "keyword item matches two record texts in memory");

  // Prune: by record number, then by date.
  Check(db.ExecBatch(Text([&](char* b, uint32_t n) {
          return q.GetDeleteQueryByID(2, b, n);
        })),
        "delete below record 2");
  Check(db.Count("SELECT * FROM " + text_table) == 3 &&
            db.Count("SELECT * FROM " + tables[1]) == 3,
        "record 1 and its two items are gone");
  Check(db.ExecBatch(Text([&](char* b, uint32_t n) {
          return q.GetDeleteQueryByDate("2026-12-04", b, n);
        })),
        "delete before 2026-12-04");
  Check(db.Count("SELECT * FROM " + text_table) == 1 &&
            db.Count("SELECT * FROM " + tables[0]) == 1,
        "one record and its user-table row remain");

  Check(db.ExecBatch(Text([&](char* b, uint32_t n) {
          return q.GetUserDropQueryEx(kDevice, b, n);
        })),
        "drop the user tables");
  Check(db.Exec(Text([&](char* b, uint32_t n) {
          return q.GetDropQuery(kDatabaseType, b, n);
        })),
        "drop the text table");
  if (argc <= 1) std::remove(path.c_str());
  std::printf("%d failed\n", g_failures);
  return g_failures == 0 ? 0 : 1;
}
