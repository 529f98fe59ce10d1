// The ODBC engine over unixODBC: the connection string goes to the driver
// manager as it is (SQLDriverConnect), statements go to the driver
// unchanged (SQL_NOSCAN_ON: no ODBC escape processing inside our text).
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "engine.h"

namespace qmhost {
namespace {

// An ODBC handle freed with its owner.
class Handle {
 public:
  Handle(SQLSMALLINT type, SQLHANDLE handle) : type_(type), handle_(handle) {}
  ~Handle() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  SQLHANDLE get() const { return handle_; }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_;
};

// The diagnostic records of a handle: the messages, and the SQLSTATE and
// native error of the first, which say what kind of failure it was.
struct Diagnosis {
  std::string text;
  std::string state;
  SQLINTEGER native = 0;
};

Diagnosis Diagnose(SQLSMALLINT type, SQLHANDLE handle) {
  Diagnosis d;
  for (SQLSMALLINT i = 1; i <= 8; ++i) {
    SQLCHAR state[6] = {0};
    SQLCHAR text[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRec(type, handle, i, state, &native, text,
                                       sizeof text, &length);
    if (!SQL_SUCCEEDED(rc)) break;
    if (i == 1) {
      d.state = reinterpret_cast<char*>(state);
      d.native = native;
    }
    if (!d.text.empty()) d.text += "; ";
    d.text += "[" + std::string(reinterpret_cast<char*>(state)) + "] " +
              reinterpret_cast<char*>(text);
  }
  if (d.text.empty()) d.text = "unknown ODBC error";
  return d;
}

// SQLSTATE classes, with the MySQL family's native codes where its driver
// gives the general HY000: 40001 and 1213 deadlock or a cluster's
// certification failure, 1205 a lock wait that ran out; 08 and 2006/2013
// a connection gone, 1047 (08S01) a cluster node outside the primary
// component, 1180 a COMMIT the node could not replicate ("not connected to
// Primary Component") and 1927 a connection the server killed, each best
// taken up on another node; 22 and 23 a value out of its column's range or
// a constraint, 1366 and 1292 a value of the wrong form.
Failure Classify(const Diagnosis& d) {
  const std::string cls = d.state.substr(0, 2);
  if (d.state == "40001" || d.state == "HYT00" || d.native == 1205 ||
      d.native == 1213) {
    return Failure::kAgain;
  }
  if (cls == "08" || d.native == 2006 || d.native == 2013 || d.native == 1180 ||
      d.native == 1927) {
    return Failure::kLost;
  }
  if (cls == "22" || cls == "23" || d.native == 1366 || d.native == 1292) {
    return Failure::kRefused;
  }
  return Failure::kFatal;
}

class OdbcEngine final : public Engine {
 public:
  // Takes the environment and a connected connection.
  OdbcEngine(std::unique_ptr<Handle> env, std::unique_ptr<Handle> dbc)
      : env_(std::move(env)), dbc_(std::move(dbc)) {}
  ~OdbcEngine() override { SQLDisconnect(dbc()); }

  // Learns the server's name and, on the MySQL family, sets the session's
  // sql_mode for the library's statements.
  bool Prepare() {
    SQLCHAR name[128] = {0}, version[128] = {0};
    SQLSMALLINT length = 0;
    SQLGetInfo(dbc(), SQL_DBMS_NAME, name, sizeof name, &length);
    SQLGetInfo(dbc(), SQL_DBMS_VER, version, sizeof version, &length);
    dbms_ = reinterpret_cast<char*>(name);
    version_ = reinterpret_cast<char*>(version);
    std::string lower = dbms_;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    mysql_ = lower.find("mysql") != std::string::npos ||
             lower.find("mariadb") != std::string::npos;
    if (!mysql_) return true;
    Rows rows;
    if (!Query("SELECT VERSION(), @@SESSION.sql_mode", rows) ||
        rows.values.empty()) {
      return false;
    }
    version_ = rows.values[0][0].value_or(version_);
    std::string mode;
    std::string current = rows.values[0][1].value_or("");
    for (size_t start = 0; start <= current.size();) {
      size_t end = current.find(',', start);
      if (end == std::string::npos) end = current.size();
      const std::string flag = current.substr(start, end - start);
      if (!flag.empty() && flag != "NO_BACKSLASH_ESCAPES" && flag != "MSSQL") {
        mode += flag + ",";
      }
      start = end + 1;
    }
    if (!Execute("SET SESSION sql_mode = '" + mode + "MSSQL'", nullptr) ||
        !Query("SHOW VARIABLES WHERE Variable_name IN ('wsrep_on', "
               "'wsrep_mode', 'innodb_force_primary_key', "
               "'sql_require_primary_key')",
               rows)) {
      return false;
    }
    for (const auto& row : rows.values) {
      const std::string name = row[0].value_or(""), v = row[1].value_or("");
      if (name == "wsrep_on") cluster_ = v == "ON";
      if (v == "ON" || v.find("REQUIRED_PRIMARY_KEY") != std::string::npos)
        primary_key_required_ = primary_key_required_ || name != "wsrep_on";
    }
    // A node outside the primary component takes no statement: no use
    // going on with it.
    if (!cluster_) return true;
    if (!Query("SHOW STATUS LIKE 'wsrep_ready'", rows)) return false;
    return (!rows.values.empty() && rows.values[0][1] == "ON") ||
           Fail(Failure::kLost,
                "the cluster node is not ready (it is outside the cluster's "
                "primary component, or still joining)");
  }

  std::string Describe() const override {
    return dbms_ + " " + version_ + " through ODBC";
  }
  bool MysqlFamily() const override { return mysql_; }

  bool Execute(const std::string& sql, long long* changed) override {
    Statement st(this);
    if (!st.Run(sql)) return false;
    if (changed != nullptr) {
      SQLLEN n = 0;
      SQLRowCount(st.get(), &n);
      *changed = n;
    }
    return true;
  }

  bool Query(const std::string& sql, Rows& rows) override {
    Statement st(this);
    if (!st.Run(sql)) return false;
    return st.Fetch(rows);
  }

  bool LastInsertId(long long& id) override {
    Rows rows;
    if (!Query(mysql_ ? "SELECT LAST_INSERT_ID()" : "SELECT SCOPE_IDENTITY()",
               rows)) {
      return false;
    }
    if (rows.values.empty() || !rows.values[0][0]) {
      return Fail(Failure::kFatal, "the server gave no id for the INSERT");
    }
    id = std::stoll(*rows.values[0][0]);
    return true;
  }

  bool Begin() override {
    return Check(
        SQLSetConnectAttr(dbc(), SQL_ATTR_AUTOCOMMIT,
                          reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0));
  }
  bool Commit() override { return End(SQL_COMMIT); }
  bool Rollback() override { return End(SQL_ROLLBACK); }

  // An index on f_id, through which the library's joins and deletes find
  // a record's rows. A primary key where the server requires one, and on a
  // cluster, whose nodes apply a replicated DELETE row by row through the
  // primary key: the host's own auto-increment row key, invisible, so that
  // SELECT * shows the library's columns only. InnoDB, the one engine a
  // cluster replicates and one that rolls back.
  std::vector<std::string> KeyedUserTable(const std::string& create,
                                          const std::string&,
                                          std::string& added) const override {
    added.clear();
    if (!mysql_ || create.empty() || create.back() != ')') return {create};
    std::string keyed =
        create.substr(0, create.size() - 1) + ", INDEX IX_f_id (f_id)";
    added = "an index on f_id";
    if (primary_key_required_ || cluster_) {
      keyed += ", qm_row bigint NOT NULL AUTO_INCREMENT INVISIBLE PRIMARY KEY";
      added += std::string(", the invisible row key qm_row as primary key (") +
               (cluster_ ? "a cluster node" : "the server requires one") + ")";
    }
    added += ", ENGINE=InnoDB";
    return {keyed + ") ENGINE=InnoDB"};
  }
  bool Cluster() const override { return cluster_; }
  bool SyncReads(bool on) override {
    return !cluster_ || Execute(on ? "SET SESSION wsrep_sync_wait = 1"
                                   : "SET SESSION wsrep_sync_wait = 0",
                                nullptr);
  }

  bool ListTables(std::vector<std::string>& names) override {
    Statement st(this);
    SQLCHAR type[] = "TABLE";
    Rows rows;
    if (!st.Catalogue([&](SQLHSTMT h, SQLCHAR* catalog, SQLSMALLINT length) {
          return SQLTables(h, catalog, length, nullptr, 0, nullptr, 0, type,
                           SQL_NTS);
        }) ||
        !st.Fetch(rows)) {
      return false;
    }
    names = rows.Column(2);
    std::sort(names.begin(), names.end());
    return true;
  }

  bool ListColumns(const std::string& table,
                   std::vector<std::string>& names) override {
    Statement st(this);
    Rows rows;
    std::string name = table;
    if (!st.Catalogue([&](SQLHSTMT h, SQLCHAR* catalog, SQLSMALLINT length) {
          return SQLColumns(h, catalog, length, nullptr, 0,
                            reinterpret_cast<SQLCHAR*>(name.data()),
                            static_cast<SQLSMALLINT>(name.size()), nullptr, 0);
        }) ||
        !st.Fetch(rows)) {
      return false;
    }
    names = rows.Column(3);
    return true;
  }

  bool SetBusyTimeout(double seconds) override {
    if (!mysql_) return true;
    const long whole = std::max(1L, static_cast<long>(seconds + 0.5));
    return Execute(
        "SET SESSION innodb_lock_wait_timeout = " + std::to_string(whole) +
            ", lock_wait_timeout = " + std::to_string(whole),
        nullptr);
  }

 private:
  class Statement {
   public:
    explicit Statement(OdbcEngine* engine) : engine_(engine) {
      if (!SQL_SUCCEEDED(
              SQLAllocHandle(SQL_HANDLE_STMT, engine->dbc(), &st_))) {
        engine->Diagnosed(SQL_HANDLE_DBC, engine->dbc());
        st_ = SQL_NULL_HSTMT;
      }
    }
    ~Statement() {
      if (st_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, st_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    SQLHSTMT get() const { return st_; }

    bool Run(const std::string& sql) {
      if (st_ == SQL_NULL_HSTMT) return false;
      SQLSetStmtAttr(st_, SQL_ATTR_NOSCAN,
                     reinterpret_cast<SQLPOINTER>(SQL_NOSCAN_ON), 0);
      const SQLRETURN rc = SQLExecDirect(
          st_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())),
          static_cast<SQLINTEGER>(sql.size()));
      // A searched DELETE that touched no row answers SQL_NO_DATA.
      return SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA || Fail();
    }
    // A catalogue function on the connection's current database only.
    template <typename Call>
    bool Catalogue(Call call) {
      if (st_ == SQL_NULL_HSTMT) return false;
      SQLCHAR catalog[256] = {0};
      SQLINTEGER length = 0;
      SQLGetConnectAttr(engine_->dbc(), SQL_ATTR_CURRENT_CATALOG, catalog,
                        sizeof catalog - 1, &length);
      return SQL_SUCCEEDED(call(st_, catalog[0] ? catalog : nullptr,
                                catalog[0] ? SQL_NTS : 0)) ||
             Fail();
    }
    // Every row of the result, each column as text.
    bool Fetch(Rows& rows) {
      Rows out;
      SQLSMALLINT n = 0;
      SQLNumResultCols(st_, &n);
      for (SQLSMALLINT i = 1; i <= n; ++i) {
        SQLCHAR name[256] = {0};
        SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        SQLDescribeCol(st_, i, name, sizeof name, &length, &type, &size,
                       &digits, &nullable);
        out.columns.push_back(reinterpret_cast<char*>(name));
      }
      SQLRETURN rc;
      while ((rc = SQLFetch(st_)) != SQL_NO_DATA) {
        if (!SQL_SUCCEEDED(rc)) return Fail();
        std::vector<Value>& row = out.values.emplace_back();
        for (SQLSMALLINT i = 1; i <= n; ++i) {
          if (!Column(i, row.emplace_back())) return false;
        }
      }
      rows = std::move(out);
      return true;
    }
    // Column i of the current row, read in pieces of any length.
    bool Column(SQLSMALLINT i, Value& out) {
      std::string text;
      char piece[4096];
      while (true) {
        SQLLEN indicator = 0;
        const SQLRETURN rc =
            SQLGetData(st_, i, SQL_C_CHAR, piece, sizeof piece, &indicator);
        if (rc == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(rc)) return Fail();
        if (indicator == SQL_NULL_DATA) {
          out.reset();
          return true;
        }
        // A piece that didn't hold the rest is full but for its terminator.
        const size_t got = (indicator == SQL_NO_TOTAL ||
                            indicator >= static_cast<SQLLEN>(sizeof piece))
                               ? sizeof piece - 1
                               : static_cast<size_t>(indicator);
        text.append(piece, got);
        if (rc == SQL_SUCCESS) break;
      }
      out = std::move(text);
      return true;
    }
    bool Fail() { return engine_->Diagnosed(SQL_HANDLE_STMT, st_); }

   private:
    OdbcEngine* engine_;
    SQLHSTMT st_ = SQL_NULL_HSTMT;
  };

  SQLHDBC dbc() const { return dbc_->get(); }
  bool Diagnosed(SQLSMALLINT type, SQLHANDLE handle) {
    const Diagnosis d = Diagnose(type, handle);
    return Fail(Classify(d), d.text);
  }
  bool Check(SQLRETURN rc) {
    return SQL_SUCCEEDED(rc) || Diagnosed(SQL_HANDLE_DBC, dbc());
  }
  bool End(SQLSMALLINT how) {
    const bool ended = Check(SQLEndTran(SQL_HANDLE_DBC, dbc(), how));
    const Failure kind = failure_;
    const std::string message = error_;
    const bool back = Check(
        SQLSetConnectAttr(dbc(), SQL_ATTR_AUTOCOMMIT,
                          reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0));
    // The transaction's own failure is the one that counts.
    if (!ended) Fail(kind, message);
    return ended && back;
  }

  std::unique_ptr<Handle> env_;
  std::unique_ptr<Handle> dbc_;
  std::string dbms_, version_;
  bool mysql_ = false;
  bool cluster_ = false;
  bool primary_key_required_ = false;
};

}  // namespace

std::unique_ptr<Engine> OpenOdbc(const std::string& connection,
                                 std::string& error) {
  if (connection.size() > 32767) {
    error = "the connection string is longer than ODBC takes";
    return nullptr;
  }
  SQLHANDLE raw = SQL_NULL_HANDLE;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &raw))) {
    error = "can't start the ODBC driver manager";
    return nullptr;
  }
  auto env = std::make_unique<Handle>(SQL_HANDLE_ENV, raw);
  SQLSetEnvAttr(raw, SQL_ATTR_ODBC_VERSION,
                reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  raw = SQL_NULL_HANDLE;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env->get(), &raw))) {
    error = Diagnose(SQL_HANDLE_ENV, env->get()).text;
    return nullptr;
  }
  auto dbc = std::make_unique<Handle>(SQL_HANDLE_DBC, raw);
  SQLSMALLINT length = 0;
  const SQLRETURN rc = SQLDriverConnect(
      dbc->get(), nullptr,
      reinterpret_cast<SQLCHAR*>(const_cast<char*>(connection.c_str())),
      static_cast<SQLSMALLINT>(connection.size()), nullptr, 0, &length,
      SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    error = Diagnose(SQL_HANDLE_DBC, dbc->get()).text;
    return nullptr;
  }
  auto engine = std::make_unique<OdbcEngine>(std::move(env), std::move(dbc));
  if (!engine->Prepare()) {
    error = "setting up the session: " + engine->error();
    return nullptr;
  }
  return engine;
}

}  // namespace qmhost
