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

std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string out;
  for (SQLSMALLINT i = 1; i <= 8; ++i) {
    SQLCHAR state[6] = {0};
    SQLCHAR text[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRec(type, handle, i, state, &native, text,
                                       sizeof text, &length);
    if (!SQL_SUCCEEDED(rc)) break;
    if (!out.empty()) out += "; ";
    out += "[" + std::string(reinterpret_cast<char*>(state)) + "] " +
           reinterpret_cast<char*>(text);
  }
  return out.empty() ? "unknown ODBC error" : out;
}

class OdbcEngine final : public Engine {
 public:
  OdbcEngine(SQLHENV env, SQLHDBC dbc) : env_(env), dbc_(dbc) {}
  ~OdbcEngine() override {
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  // Learns the server's name and, on the MySQL family, sets the session's
  // sql_mode for the library's statements.
  bool Prepare() {
    SQLCHAR name[128] = {0}, version[128] = {0};
    SQLSMALLINT length = 0;
    SQLGetInfo(dbc_, SQL_DBMS_NAME, name, sizeof name, &length);
    SQLGetInfo(dbc_, SQL_DBMS_VER, version, sizeof version, &length);
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
    return true;
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
    Rows out;
    SQLSMALLINT n = 0;
    SQLNumResultCols(st.get(), &n);
    for (SQLSMALLINT i = 1; i <= n; ++i) {
      SQLCHAR name[256] = {0};
      SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      SQLDescribeCol(st.get(), i, name, sizeof name, &length, &type, &size,
                     &digits, &nullable);
      out.columns.push_back(reinterpret_cast<char*>(name));
    }
    SQLRETURN rc;
    while ((rc = SQLFetch(st.get())) != SQL_NO_DATA) {
      if (!SQL_SUCCEEDED(rc)) return st.Fail();
      std::vector<Value>& row = out.values.emplace_back();
      for (SQLSMALLINT i = 1; i <= n; ++i) {
        if (!st.Column(i, row.emplace_back())) return false;
      }
    }
    rows = std::move(out);
    return true;
  }

  bool LastInsertId(long long& id) override {
    Rows rows;
    if (!Query(mysql_ ? "SELECT LAST_INSERT_ID()" : "SELECT SCOPE_IDENTITY()",
               rows)) {
      return false;
    }
    if (rows.values.empty() || !rows.values[0][0]) {
      error_ = "the server gave no id for the INSERT";
      return false;
    }
    id = std::stoll(*rows.values[0][0]);
    return true;
  }

  bool Begin() override {
    return Check(
        SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
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
  bool SyncReads() override {
    return !cluster_ || Execute("SET SESSION wsrep_sync_wait = 1", nullptr);
  }

  bool ListTables(std::vector<std::string>& names) override {
    Statement st(this);
    if (!st.Tables()) return false;
    names.clear();
    while (true) {
      const SQLRETURN rc = SQLFetch(st.get());
      if (rc == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(rc)) return st.Fail();
      Value name;
      if (!st.Column(3, name)) return false;  // TABLE_NAME
      names.push_back(name.value_or(""));
    }
    std::sort(names.begin(), names.end());
    return true;
  }

 private:
  class Statement {
   public:
    explicit Statement(OdbcEngine* engine) : engine_(engine) {
      if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, engine->dbc_, &st_))) {
        engine->error_ = Diagnostics(SQL_HANDLE_DBC, engine->dbc_);
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
    // The tables of the connection's current database only.
    bool Tables() {
      if (st_ == SQL_NULL_HSTMT) return false;
      SQLCHAR catalog[256] = {0};
      SQLINTEGER length = 0;
      SQLGetConnectAttr(engine_->dbc_, SQL_ATTR_CURRENT_CATALOG, catalog,
                        sizeof catalog - 1, &length);
      SQLCHAR type[] = "TABLE";
      return SQL_SUCCEEDED(SQLTables(st_, catalog[0] ? catalog : nullptr,
                                     catalog[0] ? SQL_NTS : 0, nullptr, 0,
                                     nullptr, 0, type, SQL_NTS)) ||
             Fail();
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
    bool Fail() {
      engine_->error_ = Diagnostics(SQL_HANDLE_STMT, st_);
      return false;
    }

   private:
    OdbcEngine* engine_;
    SQLHSTMT st_ = SQL_NULL_HSTMT;
  };

  bool Check(SQLRETURN rc) {
    if (SQL_SUCCEEDED(rc)) return true;
    error_ = Diagnostics(SQL_HANDLE_DBC, dbc_);
    return false;
  }
  bool End(SQLSMALLINT how) {
    const bool ended = Check(SQLEndTran(SQL_HANDLE_DBC, dbc_, how));
    const bool back = Check(
        SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                          reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0));
    return ended && back;
  }

  SQLHENV env_;
  SQLHDBC dbc_;
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
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    error = "can't start the ODBC driver manager";
    return nullptr;
  }
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION,
                reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    error = Diagnostics(SQL_HANDLE_ENV, env);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return nullptr;
  }
  SQLSMALLINT length = 0;
  const SQLRETURN rc = SQLDriverConnect(
      dbc, nullptr,
      reinterpret_cast<SQLCHAR*>(const_cast<char*>(connection.c_str())),
      static_cast<SQLSMALLINT>(connection.size()), nullptr, 0, &length,
      SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    error = Diagnostics(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return nullptr;
  }
  auto engine = std::make_unique<OdbcEngine>(env, dbc);
  if (!engine->Prepare()) {
    error = "setting up the session: " + engine->error();
    return nullptr;
  }
  return engine;
}

}  // namespace qmhost
