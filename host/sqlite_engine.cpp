// The embedded engine: one SQLite database file.
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "engine.h"

namespace qmhost {
namespace {

bool Blank(const char* s) {
  for (; *s != '\0'; ++s) {
    if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r') return false;
  }
  return true;
}

// Busy and locked: another connection holds the lock. Refused: the value
// broke a constraint or a limit. Everything else (no such table, read-only,
// full, corrupt, a statement SQLite can't parse) won't get better.
Failure Classify(int code) {
  switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Failure::kAgain;
    case SQLITE_CONSTRAINT:
    case SQLITE_TOOBIG:
    case SQLITE_MISMATCH:
    case SQLITE_RANGE:
      return Failure::kRefused;
    default:
      return Failure::kFatal;
  }
}

class SqliteEngine final : public Engine {
 public:
  explicit SqliteEngine(sqlite3* db) : db_(db) {
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_handler(db_, &SqliteEngine::Busy, this);
  }
  ~SqliteEngine() override { sqlite3_close_v2(db_); }

  std::string Describe() const override {
    return std::string("SQLite ") + sqlite3_libversion();
  }
  bool MysqlFamily() const override { return false; }

  bool Execute(const std::string& sql, long long* changed) override {
    Statement st(this, sql);
    if (st.get() == nullptr) return false;
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) return Fail();
    if (changed != nullptr) *changed = sqlite3_changes64(db_);
    return true;
  }

  bool Query(const std::string& sql, Rows& rows) override {
    Statement st(this, sql);
    if (st.get() == nullptr) return false;
    Rows out;
    const int n = sqlite3_column_count(st.get());
    for (int i = 0; i < n; ++i)
      out.columns.push_back(sqlite3_column_name(st.get(), i));
    int rc;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
      std::vector<Value>& row = out.values.emplace_back();
      for (int i = 0; i < n; ++i) {
        const auto* text =
            reinterpret_cast<const char*>(sqlite3_column_text(st.get(), i));
        if (text == nullptr) {
          row.emplace_back();
        } else {
          row.emplace_back(
              std::string(text, sqlite3_column_bytes(st.get(), i)));
        }
      }
    }
    if (rc != SQLITE_DONE) return Fail();
    rows = std::move(out);
    return true;
  }

  bool LastInsertId(long long& id) override {
    id = sqlite3_last_insert_rowid(db_);
    return true;
  }
  bool Begin() override { return Execute("BEGIN IMMEDIATE", nullptr); }
  bool Commit() override { return Execute("COMMIT", nullptr); }
  bool Rollback() override { return Execute("ROLLBACK", nullptr); }

  bool ListTables(std::vector<std::string>& names) override {
    Rows rows;
    if (!Query("SELECT name FROM sqlite_master WHERE type = 'table' AND "
               "name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name",
               rows)) {
      return false;
    }
    names = rows.Column(0);
    return true;
  }

  // Index names are the database's, not the table's, on SQLite.
  std::vector<std::string> KeyedUserTable(const std::string& create,
                                          const std::string& table,
                                          std::string& added) const override {
    added = "an index on f_id";
    return {create,
            "CREATE INDEX IX_" + table + "_f_id ON " + table + " (f_id)"};
  }

  bool ListColumns(const std::string& table,
                   std::vector<std::string>& names) override {
    Rows rows;
    if (!Query("SELECT name FROM pragma_table_info('" + Escaped(table, false) +
                   "')",
               rows)) {
      return false;
    }
    names = rows.Column(0);
    return true;
  }

  bool SetBusyTimeout(double seconds) override {
    busy_timeout_ = seconds;
    return true;
  }

 private:
  // One prepared statement; a text holding a second statement is refused,
  // so nothing runs that the caller didn't see as one statement.
  class Statement {
   public:
    Statement(SqliteEngine* engine, const std::string& sql) {
      const char* tail = nullptr;
      if (sqlite3_prepare_v2(engine->db_, sql.c_str(),
                             static_cast<int>(sql.size()), &st_,
                             &tail) != SQLITE_OK) {
        engine->Fail();
      } else if (st_ == nullptr) {
        engine->Engine::Fail(Failure::kFatal, "no statement");
      } else if (tail != nullptr && !Blank(tail)) {
        engine->Engine::Fail(Failure::kFatal, "more than one statement");
        sqlite3_finalize(st_);
        st_ = nullptr;
      }
    }
    ~Statement() { sqlite3_finalize(st_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return st_; }

   private:
    sqlite3_stmt* st_ = nullptr;
  };

  bool Fail() {
    return Engine::Fail(Classify(sqlite3_extended_errcode(db_)),
                        sqlite3_errmsg(db_));
  }

  // Waits in short steps while another connection holds the lock, until
  // the busy timeout has passed or a stop was asked for.
  static int Busy(void* self, int count) {
    auto* e = static_cast<SqliteEngine*>(self);
    const auto now = std::chrono::steady_clock::now();
    if (count == 0) e->busy_since_ = now;
    if (StopRequested() ||
        std::chrono::duration<double>(now - e->busy_since_).count() >=
            e->busy_timeout_) {
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(count < 20 ? 2 : 20));
    return 1;
  }

  sqlite3* db_;
  double busy_timeout_ = 60;
  std::chrono::steady_clock::time_point busy_since_;
};

}  // namespace

std::vector<std::string> SqliteTextTable(const std::string& table) {
  // AUTOINCREMENT: an f_id is never given again after a prune, as with
  // IDENTITY.
  return {
      "CREATE TABLE " + table +
          " (f_id INTEGER PRIMARY KEY AUTOINCREMENT, f_date TEXT NOT NULL, "
          "f_systime TEXT, f_cam INTEGER NOT NULL, f_text TEXT, f_xml TEXT, "
          "f_savepath TEXT, f_savepos INTEGER)",
      "CREATE INDEX IX_" + table + "_date ON " + table + " (f_date)"};
}

std::unique_ptr<Engine> OpenSqlite(const std::string& path, bool create,
                                   std::string& error) {
  if (!create && path.rfind("file:", 0) != 0 &&
      access(path.c_str(), F_OK) != 0) {
    error = "the file does not exist";
    return nullptr;
  }
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI |
                                     (create ? SQLITE_OPEN_CREATE : 0),
                                 nullptr);
  if (rc != SQLITE_OK) {
    error = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close_v2(db);
    return nullptr;
  }
  return std::make_unique<SqliteEngine>(db);
}

}  // namespace qmhost
