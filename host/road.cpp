#include "road.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "ingest.h"
#include "library_text.h"
#include "output.h"
#include "records.h"
#include "search_args.h"

namespace qmhost {
namespace {

using quillmore_tools::BatchText;
using quillmore_tools::RecordText;

constexpr int kPruneStep = 1000;  // records a prune deletes per transaction

// The connection string without its DATABASE attribute, the password
// hidden for messages, or with the SERVER and PORT of a cluster node
// ("HOST[:PORT]", an IPv6 address in brackets when a port follows).
std::string Attributes(const std::string& connection, bool drop_database,
                       bool hide_password, const std::string& node = {}) {
  std::string out;
  size_t start = 0;
  while (start < connection.size()) {
    size_t end = connection.find(';', start);
    if (end == std::string::npos) end = connection.size();
    std::string attr = connection.substr(start, end - start);
    std::string key = attr.substr(0, attr.find('='));
    for (char& c : key)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (hide_password && key == "PWD") attr = "PWD=...";
    if (!(drop_database && key == "DATABASE") &&
        !(!node.empty() && (key == "SERVER" || key == "PORT"))) {
      out += attr + ";";
    }
    start = end + 1;
  }
  if (node.empty()) return out;
  const size_t colon = node.rfind(':');
  const bool port =
      colon != std::string::npos && colon + 1 < node.size() &&
      node.find_first_not_of("0123456789", colon + 1) == std::string::npos &&
      (node.find(':') == colon || (node[0] == '[' && node[colon - 1] == ']'));
  std::string server = port ? node.substr(0, colon) : node;
  if (server.size() > 2 && server.front() == '[' && server.back() == ']')
    server = server.substr(1, server.size() - 2);
  out += "SERVER=" + server + ";";
  if (port) out += "PORT=" + node.substr(colon + 1) + ";";
  return out;
}

volatile std::sig_atomic_t g_signal = 0;

void OnStop(int signal) {
  g_signal = signal;
  RequestStop();
}

// The first INT or TERM asks the ingest to end its batch and stop; a second
// one ends the program at once (the database then rolls the batch back).
// No SA_RESTART: a read waiting for input returns.
void CatchStop() {
  StopDescriptor();  // made before a handler can write to it
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

// ---------------------------------------------------------------- set-up

// Asked on the terminal before what can't be undone; scripts answer with
// --yes, and input that is no terminal asks nothing.
bool Road::Confirm(const std::string& what) const {
  if (o_.yes || isatty(0) != 1) return true;
  std::fprintf(stderr, "quillmore-host: %s, on %s? [y/N] ", what.c_str(),
               db_->Describe().c_str());
  char answer[16] = {0};
  const bool yes = std::fgets(answer, sizeof answer, stdin) != nullptr &&
                   (answer[0] == 'y' || answer[0] == 'Y');
  if (!yes) std::fprintf(stderr, "quillmore-host: nothing was done\n");
  return yes;
}

std::string Road::EngineArguments() const {
  if (!o_.odbc) return " --db " + Quoted(o_.db);
  std::string nodes;
  for (const std::string& n : o_.nodes) nodes += (nodes.empty() ? "" : ",") + n;
  return " --odbc" +
         (o_.odbc_extra.empty() ? ""
                                : " --odbc-extra " + Quoted(o_.odbc_extra)) +
         (nodes.empty() ? "" : " --nodes " + Quoted(nodes));
}

std::string Road::Esc(const std::string& value) const {
  return Escaped(value, db_->MysqlFamily());
}

void Road::Show(const std::string& sql) const {
  // --tsv writes only the table to standard output.
  if (!o_.quiet && !o_.tsv) std::printf("sql> %s\n", sql.c_str());
}

void Road::Failed(const std::string& sql, const std::string& message) const {
  std::fprintf(stderr,
               "quillmore-host: the database failed a statement\n"
               "  statement: %s\n  %s: %s\n",
               sql.c_str(), db_->Describe().c_str(), message.c_str());
}

bool Road::Run(const std::string& sql, long long* changed) {
  Show(sql);
  if (db_->Execute(sql, changed)) return true;
  Failed(sql, db_->error());
  return false;
}

bool Road::SyncReads() {
  sync_reads_ = true;
  if (db_->SyncReads(true)) return true;
  Failed("SET SESSION wsrep_sync_wait = 1", db_->error());
  return false;
}

// A read runs again on the next node when its connection is lost.
bool Road::Query(const std::string& sql, Rows& rows, bool show) {
  if (show) Show(sql);
  return OnAnyNode([&] {
    if (db_->Query(sql, rows)) return Failure::kNone;
    Failed(sql, db_->error());
    return db_->failure();
  });
}

std::string Road::TextTable() {
  return RecordText([&](char* b, uint32_t n) { return q_.GetTableName(b, n); });
}

std::string Road::NodeName(size_t i) const {
  return o_.nodes.empty() ? "the server" : o_.nodes[i];
}

std::unique_ptr<Engine> Road::OpenNode(const std::string& connection, size_t i,
                                       std::string& error) {
  std::unique_ptr<Engine> db = OpenOdbc(
      o_.nodes.empty() ? connection
                       : Attributes(connection, false, false, o_.nodes[i]),
      error);
  if (db && (!db->SetBusyTimeout(o_.busy_timeout) ||
             (sync_reads_ && !db->SyncReads(true)))) {
    error = db->error();
    db.reset();
  }
  return db;
}

int Road::Connect(const std::string& connection, size_t first) {
  const size_t count = std::max<size_t>(1, o_.nodes.size());
  for (size_t k = 0; k < count; ++k) {
    const size_t i = (first + k) % count;
    std::string error;
    db_ = OpenOdbc(o_.nodes.empty()
                       ? connection
                       : Attributes(connection, false, false, o_.nodes[i]),
                   error);
    if (db_) {
      node_ = i;
      return kOk;
    }
    std::fprintf(stderr,
                 "quillmore-host: can't connect to %s with %s\n  ODBC: %s\n",
                 NodeName(i).c_str(),
                 Attributes(connection, false, true).c_str(), error.c_str());
  }
  return kFailed;
}

bool Road::Failover(std::string& error) {
  if (!o_.odbc) {
    error = "an SQLite file has no other way in";
    return false;
  }
  const std::string lost = NodeName(node_), why = db_->error();
  const size_t count = std::max<size_t>(1, o_.nodes.size());
  const auto start = std::chrono::steady_clock::now();
  // Survivors of a node's death take a few seconds to form the cluster
  // again: each round tries every node, then waits a little longer.
  for (double pause = 0.1;; pause = std::min(2.0, 2 * pause)) {
    for (size_t k = 1; k <= count; ++k) {
      const size_t i = (node_ + k) % count;
      std::unique_ptr<Engine> db = OpenNode(connection_, i, error);
      if (!db) continue;
      std::fprintf(stderr,
                   "%squillmore-host: lost %s (%s); going on through %s\n",
                   isatty(2) == 1 ? "\n" : "", lost.c_str(), why.c_str(),
                   NodeName(i).c_str());
      db_ = std::move(db);
      node_ = i;
      return true;
    }
    const double spent =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count();
    if (StopRequested() || spent + pause > std::max(1.0, o_.busy_timeout))
      break;
    std::this_thread::sleep_for(std::chrono::duration<double>(pause));
  }
  error = "no node answered within the busy timeout (" + error + ")";
  return false;
}

template <typename Work>
bool Road::OnAnyNode(Work work) {
  // Each node may fail it a few times over, not forever.
  size_t left = 3 * std::max<size_t>(1, o_.nodes.size());
  for (Failure f; (f = work()) != Failure::kNone;) {
    std::string error;
    if (f != Failure::kLost || left-- == 0) return false;
    if (!Failover(error)) {
      std::fprintf(stderr, "quillmore-host: %s\n", error.c_str());
      return false;
    }
  }
  return true;
}

Engine* Road::Reconnect(Engine&, std::string& error) {
  // A connection lost over and over (nodes failing one after another, a
  // network that keeps dropping) ends the ingest rather than spinning.
  const auto now = std::chrono::steady_clock::now();
  if (now - reconnects_since_ > std::chrono::minutes(1)) {
    reconnects_since_ = now;
    reconnects_ = 0;
  }
  if (++reconnects_ > 3 * std::max<size_t>(1, o_.nodes.size()) + 3) {
    error = "the connection was lost " + std::to_string(reconnects_ - 1) +
            " times within a minute";
    return nullptr;
  }
  return Failover(error) ? db_.get() : nullptr;
}

// Read where every commit the cluster made before the read is seen.
Recovery::Outcome Road::Committed(Engine& db, const std::string& text_table,
                                  const std::vector<long long>& ids,
                                  const std::vector<const Record*>& records) {
  Outcome found = Outcome::kUnknown;
  if (db.SyncReads(true)) {
    found = FindBatch(db, text_table, ids, records);
    if (!db.SyncReads(sync_reads_)) found = Outcome::kUnknown;
  }
  if (found != Outcome::kUnknown) {
    std::fprintf(stderr, "quillmore-host: the batch whose COMMIT was lost %s\n",
                 found == Outcome::kCommitted
                     ? "had committed"
                     : "had not committed: running it again");
  }
  return found;
}

int Road::Open(bool create_database) {
  q_.LoadData(device_);
  type_ = q_.GetDatabaseType();
  if (q_.GetUseDatabase() <= 0 || type_ <= 0) {
    std::fprintf(
        stderr,
        "quillmore-host: device %d keeps no database (DV/devdata%d.ini "
        "beside quillmore-host is missing, or its DATABASE or DBTYPE "
        "is 0)\n",
        device_, device_);
    return kCannotRun;
  }
  if (!o_.odbc) {
    if (type_ != 2 && type_ != 3) {
      std::fprintf(stderr,
                   "quillmore-host: device %d is of database type %d; SQLite "
                   "runs the SQL Server forms of the statements (types 2 and "
                   "3)%s\n",
                   device_, type_,
                   type_ == 4 ? ": a type-4 device goes through --odbc" : "");
      return kCannotRun;
    }
    std::string error;
    db_ = OpenSqlite(o_.db, create_database, error);
    if (!db_) {
      std::fprintf(stderr, "quillmore-host: can't open %s: %s%s\n",
                   o_.db.c_str(), error.c_str(),
                   create_database ? ""
                                   : " ('quillmore-host init' makes the "
                                     "database)");
      return kFailed;
    }
    return Ready();
  }
  if (type_ != 4) {
    std::fprintf(stderr,
                 "quillmore-host: device %d is of database type %d; the "
                 "library's connection string is an ODBC one for type 4 "
                 "(MySQL) only\n",
                 device_, type_);
    return kCannotRun;
  }
  const std::string connection = RecordText([&](char* b, uint32_t n) {
                                   return q_.GetConnectionString(b, n);
                                 }) +
                                 o_.odbc_extra;
  if (connection == o_.odbc_extra) {
    std::fprintf(stderr,
                 "quillmore-host: device %d has no connection string (DBSERVER "
                 "or DBNAME missing)\n",
                 device_);
    return kFailed;
  }
  // init makes the server's database only when it can't connect to it.
  std::string error;
  if (create_database && (db_ = OpenOdbc(connection, error)) != nullptr)
    return Ready();
  if (create_database) {
    const std::string name = RecordText(
        [&](char* b, uint32_t n) { return q_.GetDatabaseName(b, n); });
    const std::string create = RecordText([&](char* b, uint32_t n) {
      return q_.GetCreateDatabaseQuery(type_, name.c_str(), b, n);
    });
    if (create.empty()) {
      std::fprintf(
          stderr,
          "quillmore-host: no CREATE DATABASE for type %d (DV/db%d.sql)\n",
          type_, type_);
      return kFailed;
    }
    if (const int rc = Connect(Attributes(connection, true, false), 0);
        rc != kOk) {
      return rc;
    }
    if (!Run(create)) return kFailed;
  }
  connection_ = connection;
  if (const int rc = Connect(connection, 0); rc != kOk) return rc;
  return Ready();
}

int Road::Ready() {
  if (db_->SetBusyTimeout(o_.busy_timeout)) return kOk;
  Failed("(the busy timeout)", db_->error());
  return kFailed;
}

// ---------------------------------------------------------------- commands

// The text table first, then each user table whose CREATE the library
// makes, with the columns the statements use and how to make them.
std::vector<Road::Table> Road::Tables() {
  std::vector<Table> out;
  Table& text = out.emplace_back();
  text.name = TextTable();
  text.columns = {"f_id",   "f_date", "f_systime",  "f_cam",
                  "f_text", "f_xml",  "f_savepath", "f_savepos"};
  text.create =
      o_.odbc ? std::vector<std::string>{RecordText([&](char* b, uint32_t n) {
        return q_.GetCreateQuery(type_, b, n);
      })}
              : SqliteTextTable(text.name);
  if (q_.GetUseUserTable(device_) == 0) return out;
  const std::string batch = BatchText(
      [&](char* b, uint32_t n) {
        return q_.GetUserCreateQueryEx(device_, b, n);
      },
      quillmore_tools::UserTableEntryBound(q_, device_));
  // "CREATE TABLE name (f_id int NOT NULL, f_x varchar(20) NULL, ...)"
  for (const std::string& create : Statements(batch)) {
    const size_t open = create.find(" ("), close = create.rfind(')');
    if (create.rfind("CREATE TABLE ", 0) != 0 || open == std::string::npos ||
        close == std::string::npos || close < open) {
      continue;
    }
    Table& t = out.emplace_back();
    t.name = create.substr(13, open - 13);
    t.create = db_->KeyedUserTable(create, t.name, t.keys);
    const std::string list = create.substr(open + 2, close - open - 2);
    for (size_t start = 0; start < list.size();) {
      size_t end = list.find(", ", start);
      if (end == std::string::npos) end = list.size();
      const std::string clause = list.substr(start, end - start);
      t.columns.push_back(clause.substr(0, clause.find(' ')));
      t.clauses.push_back(clause);
      start = end + 2;
    }
  }
  return out;
}

namespace {

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool Among(const std::vector<std::string>& names, const std::string& name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& n) { return SameName(n, name); });
}

}  // namespace

// Marks each table present or not and lists the columns it lacks, from the
// engine's own catalogue. Names compare without regard to case, as both
// engines take them.
bool Road::Compare(std::vector<Table>& tables) {
  std::vector<std::string> present, columns;
  if (!db_->ListTables(present)) {
    Failed("(the list of tables)", db_->error());
    return false;
  }
  for (Table& t : tables) {
    t.present = Among(present, t.name);
    t.missing.clear();
    if (!t.present) continue;
    if (!db_->ListColumns(t.name, columns)) {
      Failed("(the columns of " + t.name + ")", db_->error());
      return false;
    }
    for (size_t i = 0; i < t.columns.size(); ++i) {
      if (!Among(columns, t.columns[i])) t.missing.push_back(i);
    }
  }
  return true;
}

// One line naming what the database lacks, or empty.
std::string Road::Lacks(const std::vector<Table>& tables) {
  std::string out;
  for (const Table& t : tables) {
    if (!t.present) out += (out.empty() ? "table " : "; table ") + t.name;
    for (size_t i : t.missing) {
      out += (out.empty() ? "column " : "; column ") + t.columns[i] + " of " +
             t.name;
    }
  }
  return out;
}

int Road::Init() {
  std::vector<Table> tables = Tables();
  if (tables[0].create.empty() || tables[0].create[0].empty()) {
    std::fprintf(
        stderr,
        "quillmore-host: no CREATE for the text table (DV/table%d.sql)\n",
        type_);
    return kFailed;
  }
  if (!Compare(tables)) return kFailed;
  if (!o_.odbc && !tables[0].present && !o_.quiet) {
    const std::string library = RecordText(
        [&](char* b, uint32_t n) { return q_.GetCreateQuery(type_, b, n); });
    std::printf(
        "-- SQLite: the database is the file %s (no CREATE DATABASE).\n"
        "-- The library's CREATE of the text table (DV/table%d.sql) is for "
        "SQL Server:\n--   %s\n-- SQLite has no IDENTITY, nvarchar(max) or "
        "xml, so the host runs its own equivalent:\n",
        o_.db.c_str(), type_, library.empty() ? "(none)" : library.c_str());
  }
  // What exists stays; what is missing is made, so init runs again after
  // the definitions changed.
  std::string done;
  for (const Table& t : tables) {
    if (!t.present) {
      for (const std::string& sql : t.create) {
        if (!Run(sql)) return kFailed;
      }
      done += "created " + t.name +
              (t.keys.empty() ? "" : " (the host added " + t.keys + ")") + "\n";
      continue;
    }
    if (t.clauses.empty() && !t.missing.empty()) {
      std::fprintf(stderr,
                   "quillmore-host: the text table %s lacks columns the "
                   "library's statements use (%s); drop it (quillmore-host "
                   "drop) or mend it by hand\n",
                   t.name.c_str(), Lacks({t}).c_str());
      return kFailed;
    }
    for (size_t i : t.missing) {
      if (!Run("ALTER TABLE " + t.name + " ADD COLUMN " + t.clauses[i]))
        return kFailed;
      done += "added " + t.clauses[i] + " to " + t.name + "\n";
    }
    if (t.missing.empty()) done += t.name + " is there\n";
  }
  std::printf("%sdevice %d ready on %s\n", done.c_str(), device_,
              db_->Describe().c_str());
  return kOk;
}

int Road::IngestFile(const std::string& path) {
  const Fd file(path == "-" ? 0 : open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (file.get() < 0 || fstat(file.get(), &st) != 0 || S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "quillmore-host: can't read %s: %s\n", path.c_str(),
                 file.get() >= 0 && S_ISDIR(st.st_mode) ? "it is a folder"
                                                        : std::strerror(errno));
    return kFailed;
  }
  const long long size = S_ISREG(st.st_mode) ? st.st_size : 0;
  const std::string name = path == "-" ? "standard input" : path;
  // Before the first record: every table and column the statements use.
  std::vector<Table> tables = Tables();
  if (!Compare(tables)) return kFailed;
  if (const std::string lacks = Lacks(tables); !lacks.empty()) {
    std::fprintf(stderr,
                 "quillmore-host: the database lacks what device %d's "
                 "definitions need: %s ('quillmore-host init %d' makes what "
                 "is missing)\n",
                 device_, lacks.c_str(), device_);
    return kFailed;
  }
  Progress progress(size);
  long bad_lines = 0;
  Ingest ingest(
      q_, device_, *db_,
      [&](const Ingest::Refusal& r) {
        progress.Break();
        std::fprintf(stderr,
                     "quillmore-host: %s line %ld: the record was not stored\n"
                     "  statement: %s\n  %s: %s\n",
                     name.c_str(), r.line, r.statement.c_str(),
                     db_->Describe().c_str(), r.message.c_str());
      },
      o_.busy_timeout, o_.odbc ? static_cast<Recovery*>(this) : nullptr);
  CatchStop();
  LineReader reader(file.get());
  std::string line, error;
  bool too_long = false;
  bool ok = true;
  Record record;
  long number = 0;
  while (ok && reader.Next(line, too_long) && !StopRequested()) {
    ++number;
    // Windows editors begin a file with a UTF-8 byte-order mark.
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    if (number <= o_.skip ||
        (line.find_first_not_of(" \t\r") == std::string::npos && !too_long)) {
      ingest.Pass(number);
      continue;
    }
    error.clear();
    if (too_long) {
      error = "longer than 64 MiB";
    } else if (ParseJsonLine(line, record, error) && !IsDateTime(record.date)) {
      error = "'date' is not YYYY-MM-DD HH:MM:SS: " + record.date;
    }
    if (!error.empty()) {
      ++bad_lines;
      progress.Break();
      std::fprintf(stderr, "quillmore-host: %s line %ld is no record: %s\n",
                   name.c_str(), number, error.c_str());
      ingest.Pass(number);
      continue;
    }
    ok = ingest.Add(number, std::move(record));
    if (!ingest.first_statements.empty() && !o_.quiet) {
      std::printf(
          "-- the first record's statements (each record runs the same):\n");
      for (const std::string& sql : ingest.first_statements) Show(sql);
      ingest.first_statements.clear();
    }
    progress.Update(ingest.records + ingest.in_flight(), reader.consumed);
  }
  if (ok && reader.error != 0) {
    progress.Break();
    std::fprintf(stderr, "quillmore-host: reading %s after line %ld: %s\n",
                 name.c_str(), number, std::strerror(reader.error));
  }
  // An interrupt ends the batch in flight with a COMMIT: its records are
  // whole.
  ok = ok && ingest.Finish();
  progress.Done(ingest.records, reader.consumed);
  const int stopped_by = g_signal;
  if (!ok) {
    const char* why =
        ingest.stopped() == Failure::kAgain
            ? "the database stayed busy (--busy-timeout waits longer)"
        : ingest.stopped() == Failure::kLost ? "the connection was lost"
                                             : "the database can't go on";
    std::fprintf(stderr,
                 "quillmore-host: stopped at %s line %ld: %s\n"
                 "  statement: %s\n  %s: %s\n",
                 name.c_str(), number, why, ingest.statement().c_str(),
                 db_->Describe().c_str(), ingest.error().c_str());
  } else if (stopped_by != 0) {
    std::fprintf(stderr,
                 "quillmore-host: interrupted at %s line %ld; the records "
                 "read so far were committed\n",
                 name.c_str(), ingest.through_line);
  }
  const double wall = progress.Seconds();
  const double host =
      std::max(0.0, wall - ingest.library_seconds - ingest.database_seconds);
  std::printf(
      "stored %ld records and %ld user-table rows in %.2f s: %.0f records/s\n"
      "time inside the library %.0f%%, inside the database %.0f%%, the host's "
      "own work (reading JSON, escaping) %.0f%%\n",
      ingest.records, ingest.user_rows, wall,
      wall > 0 ? ingest.records / wall : 0.0,
      100 * ingest.library_seconds / wall, 100 * ingest.database_seconds / wall,
      100 * host / wall);
  if (ingest.refused + bad_lines + ingest.without_rows > 0) {
    std::printf(
        "records not stored: %ld; lines that are no record: %ld; records "
        "whose XML gave no user-table row: %ld\n",
        ingest.refused, bad_lines, ingest.without_rows);
  }
  const std::string resume =
      "quillmore-host ingest " + std::to_string(device_) + " " + Quoted(path) +
      " --skip " + std::to_string(ingest.through_line) + EngineArguments();
  if (ingest.in_doubt()) {
    std::printf(
        "lines 1 to %ld of %s are done; lines %ld to %ld may or may not be "
        "stored (the connection was lost during their COMMIT): look before "
        "going on with\n  %s\n",
        ingest.through_line, name.c_str(), ingest.through_line + 1,
        ingest.doubt_to(), resume.c_str());
  } else if (!ok || stopped_by != 0) {
    std::printf(
        "lines 1 to %ld of %s are done, and nothing after them. To go on:\n"
        "  %s\n",
        ingest.through_line, name.c_str(), resume.c_str());
  } else {
    std::printf(
        "lines 1 to %ld of %s are done; ingesting them again would store "
        "them again (--skip N passes over the first N lines)\n",
        ingest.through_line, name.c_str());
  }
  if (stopped_by != 0) return 128 + stopped_by;
  return ok && reader.error == 0 && ingest.refused + bad_lines == 0 ? kOk
                                                                    : kFailed;
}

// The library's date-range SELECT joins every user table with INNER JOIN,
// so a record without a row in each (no XML, no Item) is not among its
// rows. The host's own SELECT of the text table finds those records, and
// they are shown in id order among the others, with NULL in the user
// tables' columns, as a LEFT JOIN would give them.
int Road::Browse(const std::string& from, const std::string& to) {
  const std::string sql = RecordText([&](char* b, uint32_t n) {
    return q_.GetSelectQueryByDateTime(Esc(from).c_str(), Esc(to).c_str(), b,
                                       n);
  });
  if (sql.empty()) {
    std::fprintf(
        stderr, "quillmore-host: the library made no SELECT for these dates\n");
    return kFailed;
  }
  Rows rows, text;
  if (!SyncReads() || !Query(sql, rows)) return kFailed;
  if (!o_.quiet && !o_.tsv) {
    std::printf(
        "-- the host's own SELECT, for the records the joins leave "
        "out:\n");
  }
  if (!Query("SELECT f_id, f_date, f_systime, f_cam, f_text, f_xml, "
             "f_savepath, f_savepos FROM " +
                 TextTable() + " WHERE f_date between '" + Esc(from) +
                 "' and '" + Esc(to) + "' order by f_id",
             text)) {
    return kFailed;
  }
  const long id = Column(rows, "f_id");
  std::set<long long> joined;
  for (const auto& row : rows.values)
    joined.insert(std::atoll(row[id].value_or("0").c_str()));
  Rows all{rows.columns, {}}, left{text.columns, {}};
  size_t next = 0;  // the next joined row
  for (auto& record : text.values) {
    const long long key = std::atoll(record[0].value_or("0").c_str());
    if (joined.count(key) != 0) continue;
    for (; next < rows.values.size() &&
           std::atoll(rows.values[next][id].value_or("0").c_str()) < key;
         ++next) {
      all.values.push_back(std::move(rows.values[next]));
    }
    // The text table's columns come first in the joined rows.
    std::vector<Value>& row = all.values.emplace_back(rows.columns.size());
    for (size_t c = 0; c < text.columns.size() && c < row.size(); ++c)
      row[c] = record[c];
    left.values.push_back(std::move(record));
  }
  for (; next < rows.values.size(); ++next)
    all.values.push_back(std::move(rows.values[next]));
  if (o_.tsv) {
    PrintTsv(all, AllColumns(all));
    return kOk;
  }
  // f_xml repeats what the user-table columns show, and each joined table
  // repeats f_id.
  std::vector<size_t> shown;
  for (size_t i = 0; i < all.columns.size(); ++i) {
    const std::string& c = all.columns[i];
    if (c != "f_xml" && c != "f_systime" && c != "f_savepath" &&
        c != "f_savepos" && (c != "f_id" || shown.empty())) {
      shown.push_back(i);
    }
  }
  PrintTable(all, o_.limit, shown);
  std::printf(
      "%zu rows (one per row of each joined user table) for %zu records\n",
      all.values.size(), joined.size() + left.values.size());
  if (!left.values.empty()) {
    std::printf(
        "%zu of them have no row in some user table, which the library's "
        "SELECT joins with INNER JOIN and so leaves out; they are shown with "
        "NULL there:%s\n",
        left.values.size(), Ids(left).c_str());
  }
  return kOk;
}

// The terms as the matcher takes them (as typed) and as the SELECT takes
// them (escaped for the engine), each item checked, and told apart by the
// kind of its item: a keyword item (kind 2) gives no SQL and is tested in
// memory; an XML item (kind 0) gives a clause only SQL Server runs.
int Road::ReadTerms(const std::vector<std::string>& args, Terms& t) {
  std::string error;
  if (!quillmore_tools::ParseSearchArgs(args, t.typed, error)) {
    std::fprintf(stderr, "quillmore-host: search: %s\n", error.c_str());
    return kUsage;
  }
  const uint32_t count = q_.GetItemSearchElementsCount(device_);
  t.escaped = t.typed;
  for (_tagSEARCHPARAM& p : t.escaped) {
    bool keyword = false;
    if (p.nItemIndex >= 0) {
      _tagITEMSEARCHINFO item{}, pre{};
      if (static_cast<uint32_t>(p.nItemIndex) >= count ||
          q_.GetItemSearchElementByIndex(device_, p.nItemIndex, &item) == 0) {
        std::fprintf(
            stderr,
            "quillmore-host: search: device %d has no item %d (it has %u)\n",
            device_, p.nItemIndex, count);
        return kUsage;
      }
      keyword = item.byType >= 2;
      // A pre-item is named by its number, from 1.
      const bool xml_pre =
          item.nPreItemId > 0 &&
          q_.GetItemSearchElementByIndex(device_, item.nPreItemId - 1, &pre) &&
          pre.byType == 0 && pre.szDefinedValue[0] != '\0';
      if (item.byType == 0 || xml_pre) {
        t.xml_items.push_back(std::to_string(p.nItemIndex) + " (" +
                              item.szName + ")");
      }
    }
    t.keyword.push_back(keyword);
    for (char* value : {p.szValue1, p.szValue2}) {
      std::string v;
      for (const char* c = value; *c != '\0'; ++c) {
        // In a MySQL LIKE pattern a backslash escapes the next character.
        if (*c == '\\' && p.nItemIndex < 0 && db_->MysqlFamily()) v += '\\';
        v += *c;
      }
      v = Esc(v);
      if (v.size() >= sizeof p.szValue1) {
        std::fprintf(stderr,
                     "quillmore-host: search: '%s' is longer than 49 bytes "
                     "once escaped for %s\n",
                     value, db_->Describe().c_str());
        return kUsage;
      }
      std::memcpy(value, v.c_str(), v.size() + 1);
    }
  }
  return kOk;
}

// The library's search SELECT over `params`, run; each record once (a
// joined group table gives a record once per matching row), in the order
// the SELECT gave.
bool Road::Select(int camera, const std::string& from, const std::string& to,
                  std::vector<_tagSEARCHPARAM> params, Rows& records,
                  size_t& rows) {
  const int join = o_.or_mode ? 1 : 0;
  const std::string sql = RecordText(
      [&](char* b, uint32_t n) {
        return q_.GetSelectQueryByItemIndex(
            camera, Esc(from).c_str(), Esc(to).c_str(),
            params.empty() ? nullptr : params.data(),
            static_cast<uint32_t>(params.size()), join, b, n);
      },
      quillmore_tools::kFieldLimit +
          1024 * static_cast<uint32_t>(params.size()));
  if (sql.empty()) {
    std::fprintf(stderr, "quillmore-host: the library made no search SELECT\n");
    return false;
  }
  Rows all;
  if (!Query(sql, all, !o_.ids)) return false;
  rows = all.values.size();
  const long id = Column(all, "f_id");
  std::set<std::string> seen;
  records = Rows{all.columns, {}};
  for (auto& row : all.values) {
    if (seen.insert(row[id].value_or("")).second)
      records.values.push_back(std::move(row));
  }
  return true;
}

// The ids of `rows`, at most --limit of them unless --ids asked for all.
std::string Road::Ids(const Rows& rows) const {
  const long id = Column(rows, "f_id");
  const size_t n = rows.values.size();
  const size_t shown =
      o_.ids || o_.limit == 0 ? n : std::min<size_t>(n, o_.limit);
  std::string out;
  for (size_t i = 0; i < shown; ++i)
    out += " " + rows.values[i][id].value_or("");
  if (shown < n) {
    out += " ... and " + std::to_string(n - shown) +
           " more (--ids lists them all)";
  }
  return out;
}

// Two stages: the library's SELECT, then IsValidSearchRecord on each
// record it found, with the values as typed. With AND, the SELECT narrows
// by the terms that go into SQL and the keyword items filter in memory.
// With OR, a record needs only one term: when keyword items stand beside
// terms that go into SQL, the SELECT of those terms alone gives some, and
// the keyword items tested on every record of the range give the others.
int Road::Search(int camera, const std::string& from, const std::string& to,
                 const std::vector<std::string>& args) {
  Terms t;
  if (const int rc = ReadTerms(args, t); rc != kOk) return rc;
  if (!t.xml_items.empty()) return XmlSearch(camera, from, to, t);
  if (!SyncReads()) return kFailed;
  const int join = o_.or_mode ? 1 : 0;
  std::vector<_tagSEARCHPARAM> sql_terms, keyword_terms;
  for (size_t i = 0; i < t.typed.size(); ++i) {
    (t.keyword[i] ? keyword_terms : sql_terms).push_back(t.escaped[i]);
    if (t.keyword[i]) keyword_terms.back() = t.typed[i];
  }
  const bool split = join == 1 && !sql_terms.empty() && !keyword_terms.empty();
  Rows found, range;
  size_t rows = 0, range_rows = 0;
  if (!Select(camera, from, to, split ? sql_terms : t.escaped, found, rows) ||
      (split && !Select(camera, from, to, {}, range, range_rows))) {
    return kFailed;
  }
  // The matcher's stage: every term on what the SELECT found, or the
  // keyword items alone on the whole range.
  const Rows& tested = split ? range : found;
  // The library takes the terms through a pointer to non-const.
  std::vector<_tagSEARCHPARAM> matched = split ? keyword_terms : t.typed;
  const long id = Column(tested, "f_id"), text = Column(tested, "f_text");
  std::set<std::string> by_sql;
  if (split) {
    const long found_id = Column(found, "f_id");
    for (const auto& row : found.values)
      by_sql.insert(row[found_id].value_or(""));
  }
  Rows keyword{tested.columns, {}}, passed{tested.columns, {}};
  for (const auto& row : tested.values) {
    const std::string body = row[text].value_or("");
    const bool match =
        q_.IsValidSearchRecord(
            body.c_str(), matched.empty() ? nullptr : matched.data(),
            static_cast<uint32_t>(matched.size()), join) != 0;
    if (match) keyword.values.push_back(row);
    if (match || by_sql.count(row[id].value_or("")) != 0)
      passed.values.push_back(row);
  }
  if (o_.ids) {
    std::printf("sql:%s\n", Ids(found).c_str());
    if (split) std::printf("keyword:%s\n", Ids(keyword).c_str());
    std::printf("passed:%s\n", Ids(passed).c_str());
    return kOk;
  }
  if (o_.tsv) {
    PrintTsv(passed, AllColumns(passed));
    return kOk;
  }
  PrintSearch(t, split, rows, found, range, keyword, passed);
  return kOk;
}

void Road::PrintSearch(const Terms& t, bool split, size_t rows,
                       const Rows& found, const Rows& range,
                       const Rows& keyword, const Rows& passed) const {
  const bool keywords =
      std::find(t.keyword.begin(), t.keyword.end(), true) != t.keyword.end();
  if (split) {
    std::printf(
        "the SELECT of the terms that go into SQL gave %zu records:%s\n"
        "the keyword items, tested in memory on each of the %zu records of "
        "the range, passed %zu:%s\n"
        "one or the other: %zu records\n",
        found.values.size(), Ids(found).c_str(), range.values.size(),
        keyword.values.size(), Ids(keyword).c_str(), passed.values.size());
  } else {
    std::printf("the SELECT gave %zu rows, %zu records:%s\n", rows,
                found.values.size(), Ids(found).c_str());
    if (keywords) {
      std::printf(
          "the keyword items, tested in memory on each record's text, passed "
          "%zu:%s\n",
          passed.values.size(), Ids(passed).c_str());
    } else {
      std::printf(
          "no keyword item among the terms: all %zu passed the test in "
          "memory\n",
          passed.values.size());
    }
  }
  std::vector<size_t> cols;
  for (const char* c : {"f_id", "f_date", "f_cam", "f_text"}) {
    if (Column(passed, c) >= 0) cols.push_back(Column(passed, c));
  }
  if (!passed.values.empty()) PrintTable(passed, o_.limit, cols);
}

// An XML item's clause m.f_xml.exist(...) needs SQL Server's xml column
// type: the statement is shown, not run.
int Road::XmlSearch(int camera, const std::string& from, const std::string& to,
                    const Terms& t) {
  std::vector<_tagSEARCHPARAM> params = t.escaped;
  const std::string sql = RecordText(
      [&](char* b, uint32_t n) {
        return q_.GetSelectQueryByItemIndex(
            camera, Esc(from).c_str(), Esc(to).c_str(), params.data(),
            static_cast<uint32_t>(params.size()), o_.or_mode ? 1 : 0, b, n);
      },
      quillmore_tools::kFieldLimit +
          1024 * static_cast<uint32_t>(params.size()));
  Show(sql);
  std::string names;
  for (const std::string& n : t.xml_items)
    names += (names.empty() ? "" : ", ") + n;
  std::fprintf(stderr,
               "quillmore-host: this search can't run on %s: item %s searches "
               "the record's XML, and its clause m.f_xml.exist(...) needs SQL "
               "Server's xml column type. The statement above is what SQL "
               "Server would run.\n",
               db_->Describe().c_str(), names.c_str());
  return kCannotRun;
}

int Road::Prune() {
  const bool by_date = !o_.before.empty();
  long below = 0;
  if (!by_date) {
    char* end = nullptr;
    below = std::strtol(o_.below.c_str(), &end, 10);
    if (o_.below.empty() || *end != '\0' || below < 0 || below > 2147483647L) {
      std::fprintf(stderr,
                   "quillmore-host: prune: --below takes a record number\n");
      return kUsage;
    }
  }
  if (!SyncReads()) return kFailed;
  Rows count;
  if (!Query("SELECT COUNT(*) FROM " + TextTable() + " WHERE " +
                 (by_date ? "f_date < '" + Esc(o_.before) + "'"
                          : "f_id < " + o_.below),
             count, false)) {
    return kFailed;
  }
  if (!Confirm("delete " + count.values.at(0).at(0).value_or("0") +
               " records of device " + std::to_string(device_) +
               (by_date ? " dated before " + o_.before
                        : " numbered below " + o_.below) +
               ", and their user-table rows")) {
    return kFailed;
  }
  // The library's batch for successive bounds, the oldest records first,
  // one transaction a step: no transaction (and on a cluster no replicated
  // write set) holds a whole table's rows. A step's bound is the record
  // kPruneStep places on; a bound equal to the last one (more records than
  // a step in one second) moves on to the next value there is.
  const std::string column = by_date ? "f_date" : "f_id";
  const std::string last = by_date ? o_.before : std::to_string(below);
  const std::string from = " FROM " + TextTable() + " WHERE " + column + " < " +
                           (by_date ? "'" + Esc(last) + "'" : last);
  std::vector<std::pair<std::string, long long>> deleted;
  std::string bound;
  long steps = 0;
  // One step; run again on another node when its connection is lost (a
  // step lost during its COMMIT may have committed: the next bound then
  // lies further on, and its rows are not counted).
  auto step = [&]() -> Failure {
    Rows r;
    if (!Query("SELECT " + column + from + " ORDER BY " + column +
                   " LIMIT 1 OFFSET " + std::to_string(kPruneStep),
               r, false)) {
      return db_->failure();
    }
    std::string next =
        !r.values.empty() && r.values[0][0] ? *r.values[0][0] : last;
    if (next == bound) {
      const std::string after = by_date ? "'" + Esc(bound) + "'" : bound;
      if (!Query("SELECT MIN(" + column + ")" + from + " AND " + column +
                     " > " + after,
                 r, false)) {
        return db_->failure();
      }
      next = r.values.at(0).at(0).value_or(last);
    }
    const std::vector<std::string> statements =
        Statements(RecordText([&](char* b, uint32_t n) {
          return by_date ? q_.GetDeleteQueryByDate(Esc(next).c_str(), b, n)
                         : q_.GetDeleteQueryByID(std::stoi(next), b, n);
        }));
    if (statements.empty()) {
      std::fprintf(stderr,
                   "quillmore-host: the library made no DELETE batch\n");
      return Failure::kFatal;
    }
    if (!db_->Begin()) {
      Failed("BEGIN", db_->error());
      return db_->failure();
    }
    std::vector<long long> changed(statements.size());
    for (size_t i = 0; i < statements.size(); ++i) {
      if (steps == 0) Show(statements[i]);
      if (!db_->Execute(statements[i], &changed[i])) {
        Failed(statements[i], db_->error());
        const Failure kind = db_->failure();
        db_->Rollback();
        return kind;
      }
    }
    if (!db_->Commit()) {
      Failed("COMMIT", db_->error());
      return db_->failure();
    }
    deleted.resize(statements.size());
    for (size_t i = 0; i < statements.size(); ++i) {
      // "DELETE FROM [name] WHERE ..." or "DELETE FROM name WHERE ...".
      std::string table = statements[i].substr(12);
      table = table.substr(0, table.find(' '));
      if (table.size() > 2 && table[0] == '[')
        table = table.substr(1, table.size() - 2);
      deleted[i] = {table, deleted[i].second + changed[i]};
    }
    bound = next;
    ++steps;
    return Failure::kNone;
  };
  while (bound != last) {
    if (!OnAnyNode(step)) {
      std::fprintf(stderr,
                   "quillmore-host: the step in flight deleted nothing; the "
                   "%ld steps before it did\n",
                   steps);
      return kFailed;
    }
  }
  std::printf(
      "deleted in %ld steps of at most %d records, one transaction "
      "each:\n",
      steps, kPruneStep);
  for (const auto& [table, rows] : deleted)
    std::printf("   %lld rows from %s\n", rows, table.c_str());
  return kOk;
}

int Road::Drop() {
  if (!Confirm("drop the text table and the user tables of device " +
               std::to_string(device_) + ", with every record in them")) {
    return kFailed;
  }
  bool ok = true;
  if (q_.GetUseUserTable(device_) != 0) {
    const std::string batch = BatchText(
        [&](char* b, uint32_t n) {
          return q_.GetUserDropQueryEx(device_, b, n);
        },
        quillmore_tools::UserTableEntryBound(q_, device_));
    for (const std::string& sql : Statements(batch)) ok = Run(sql) && ok;
  }
  const std::string drop = RecordText(
      [&](char* b, uint32_t n) { return q_.GetDropQuery(type_, b, n); });
  ok = !drop.empty() && Run(drop) && ok;
  return ok ? kOk : kFailed;
}

int Road::Stats() {
  std::vector<Table> tables = Tables();
  std::vector<std::string> present;
  if (!SyncReads()) return kFailed;
  if (!Compare(tables) || !db_->ListTables(present)) {
    if (db_->failure() != Failure::kNone)
      Failed("(the list of tables)", db_->error());
    return kFailed;
  }
  const std::string& text_table = tables[0].name;
  const bool text_there = tables[0].present;
  if (o_.tsv) {
    std::printf("table\trows\twithout a text record\tmissing columns\n");
  }
  for (size_t i = 0; i < tables.size(); ++i) {
    const Table& t = tables[i];
    std::string rows = "missing", orphans = i == 0 ? "" : "-", lacks;
    for (size_t c : t.missing)
      lacks += (lacks.empty() ? "" : ",") + t.columns[c];
    Rows r;
    if (t.present) {
      if (!Query("SELECT COUNT(*) FROM " + t.name, r, false)) return kFailed;
      rows = r.values.at(0).at(0).value_or("0");
      if (i > 0 && text_there) {
        if (!Query("SELECT COUNT(*) FROM " + t.name +
                       " WHERE f_id NOT IN (SELECT f_id FROM " + text_table +
                       ")",
                   r, false)) {
          return kFailed;
        }
        orphans = r.values.at(0).at(0).value_or("0");
      }
    }
    if (o_.tsv) {
      std::printf("%s\t%s\t%s\t%s\n", t.name.c_str(), rows.c_str(),
                  orphans.c_str(), lacks.c_str());
    } else {
      std::printf(
          "  %-34s %8s%s%s%s%s%s\n", t.name.c_str(), rows.c_str(),
          t.present ? " rows" : "",
          orphans.empty() || orphans == "-" ? "" : ", without a text record: ",
          orphans == "-" ? "" : orphans.c_str(),
          lacks.empty() ? "" : ", lacks the columns ", lacks.c_str());
    }
  }
  size_t others = 0;
  std::string listed;
  for (const std::string& name : present) {
    if (std::any_of(tables.begin(), tables.end(),
                    [&](const Table& t) { return SameName(t.name, name); })) {
      continue;
    }
    if (++others <= 8) listed += (others > 1 ? ", " : " (") + name;
  }
  if (others > 8) listed += ", ...";
  if (others > 0) listed += ")";
  if (o_.tsv) {
    std::printf("(other tables)\t%zu\t\t\n", others);
  } else {
    std::printf("  other tables in the database: %zu%s\n", others,
                listed.c_str());
  }
  // Records whose XML gives a row of the main user table they lack: asked
  // of the library for each record with XML and no main row.
  if (tables.size() > 1 && tables[1].name.rfind("TBL_USER", 0) == 0 &&
      tables[1].present && tables[1].missing.empty() && text_there) {
    const std::string& main = tables[1].name;
    Rows r;
    if (!Query("SELECT m.f_id, m.f_xml FROM " + text_table +
                   " m WHERE m.f_xml <> '' AND m.f_id NOT IN (SELECT f_id "
                   "FROM " +
                   main + ")",
               r, false)) {
      return kFailed;
    }
    long lacking = 0;
    for (const auto& row : r.values) {
      const std::string xml = row.at(1).value_or("");
      const int id = std::atoi(row.at(0).value_or("0").c_str());
      const std::string batch = RecordText(
          [&](char* b, uint32_t n) {
            return q_.GetUserInsertQuery(id, xml.c_str(), b, n);
          },
          static_cast<uint32_t>(
              std::min<uint64_t>(16 * xml.size() + 65536, INT32_MAX)));
      for (const std::string& sql : Statements(batch)) {
        if (sql.rfind("INSERT INTO " + main + " ", 0) == 0) {
          ++lacking;
          break;
        }
      }
    }
    if (o_.tsv) {
      std::printf("(records lacking their main row)\t%ld\t\t\n", lacking);
    } else {
      std::printf("  records whose XML gives a row of %s they lack: %ld\n",
                  main.c_str(), lacking);
    }
  }
  return kOk;
}

}  // namespace qmhost
