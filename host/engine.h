// The database engines quillmore-host runs the library's SQL on, behind one
// small interface: an embedded SQLite file, and any ODBC data source
// (MariaDB or MySQL through the MariaDB ODBC driver). An Engine belongs to
// one thread and owns its connection, so it can't be copied. Every call
// that fails leaves the engine's message in error(), what kind of failure
// it was in failure(), and changes nothing the caller holds.
#ifndef QUILLMORE_HOST_ENGINE_H_
#define QUILLMORE_HOST_ENGINE_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmhost {

using Value = std::optional<std::string>;  // nullopt is SQL NULL

struct Rows {
  std::vector<std::string> columns;
  std::vector<std::vector<Value>> values;

  // Column i of every row, NULL or missing as "".
  std::vector<std::string> Column(size_t i) const {
    std::vector<std::string> out;
    out.reserve(values.size());
    for (const auto& row : values) {
      out.push_back(i < row.size() ? row[i].value_or("") : "");
    }
    return out;
  }
};

// What a failure means for the caller, classified once per engine so that
// one path acts on each kind.
enum class Failure {
  kNone,
  // The database refused a value of this statement (too long for its
  // column, a constraint); the statement changed nothing, the transaction
  // stands.
  kRefused,
  // The transaction can't go on now but may when run again: the database is
  // busy, or it aborted the transaction (deadlock, a cluster's certification
  // failure). Roll back and run the whole transaction again.
  kAgain,
  // The connection is gone. An open transaction was rolled back, unless the
  // connection was lost during its COMMIT: then whether it committed is
  // unknown.
  kLost,
  // Trying again can't help: no such table or column, a read-only or full
  // database, a statement the engine can't run.
  kFatal,
};

class Engine {
 public:
  Engine() = default;
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  virtual ~Engine() = default;

  // What the host is talking to, e.g. "SQLite 3.40.1".
  virtual std::string Describe() const = 0;
  // MySQL and MariaDB read backslash escapes inside string literals.
  virtual bool MysqlFamily() const = 0;

  // Runs one statement; `changed` receives the number of rows it changed.
  virtual bool Execute(const std::string& sql,
                       long long* changed = nullptr) = 0;
  virtual bool Query(const std::string& sql, Rows& rows) = 0;
  // The f_id the last INSERT on this connection was given.
  virtual bool LastInsertId(long long& id) = 0;
  // A transaction that writes: on SQLite it takes the write lock at once,
  // so a busy database is waited for here rather than found mid-batch.
  virtual bool Begin() = 0;
  virtual bool Commit() = 0;
  virtual bool Rollback() = 0;
  // The user's tables of the database, sorted.
  virtual bool ListTables(std::vector<std::string>& names) = 0;
  // The columns of one table, as the engine's catalogue names them.
  virtual bool ListColumns(const std::string& table,
                           std::vector<std::string>& names) = 0;
  // How long a statement waits for a database another connection holds
  // locked before it fails with kAgain.
  virtual bool SetBusyTimeout(double seconds) = 0;

  // The library's CREATE of a user table completed with the keys the host
  // adds: the statements to run in its place, and `added` says what they
  // add. The library's INSERTs name their columns, so they run unchanged.
  virtual std::vector<std::string> KeyedUserTable(const std::string& create,
                                                  const std::string& table,
                                                  std::string& added) const = 0;
  // A node of a Galera cluster.
  virtual bool Cluster() const { return false; }
  // With `on`, this session's reads from here on see what the cluster
  // committed before they started (a node may apply another node's commit
  // a moment late); each read then waits for that. Nothing to do off a
  // cluster.
  virtual bool SyncReads(bool) { return true; }

  const std::string& error() const { return error_; }
  Failure failure() const { return failure_; }

 protected:
  bool Fail(Failure kind, std::string message) {
    failure_ = kind;
    error_ = std::move(message);
    return false;
  }

  std::string error_;
  Failure failure_ = Failure::kNone;
};

// `create`: make the file when it doesn't exist (init only; every other
// command says the file is missing). `path` may be an SQLite URI
// ("file:/path/db.sqlite?mode=ro" opens it read-only).
std::unique_ptr<Engine> OpenSqlite(const std::string& path, bool create,
                                   std::string& error);
// SQLite has no database type of its own in the configuration: it runs the
// SQL Server forms of the statements, and its text table is created by
// these statements, the host's equivalent of table2.sql and table3.sql
// (which use IDENTITY, nvarchar(max) and xml).
std::vector<std::string> SqliteTextTable(const std::string& table);
// `connection` is a complete ODBC connection string. On MySQL and MariaDB
// the session's sql_mode gains MSSQL (square-bracketed names) and loses
// NO_BACKSLASH_ESCAPES, so the library's statements run as produced.
std::unique_ptr<Engine> OpenOdbc(const std::string& connection,
                                 std::string& error);

// `value` made fit to stand between the single quotes the library puts
// around it: quotes doubled, and backslashes doubled too when
// `backslashes` (the MySQL family reads backslash escapes).
std::string Escaped(std::string_view value, bool backslashes);

// The statements of a batch: its lines, empty ones left out. A line feed
// inside a quoted value (XML text may hold one) belongs to the value.
std::vector<std::string> Statements(const std::string& batch);

// A stop asked for from outside (SIGINT, SIGTERM): set from a signal
// handler, read by long waits (a busy database) and by the ingest between
// records. RequestStop is safe in a signal handler.
void RequestStop();
bool StopRequested();
// Readable once a stop is asked for: a wait for input polls it beside the
// input, so a stop that comes just before the wait still ends it. Made on
// the first call, which must come before the handler that asks for stops is
// set; -1 if no pipe could be made.
int StopDescriptor();

}  // namespace qmhost

#endif  // QUILLMORE_HOST_ENGINE_H_
