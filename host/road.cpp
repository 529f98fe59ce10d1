#include "road.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "ingest.h"
#include "library_text.h"
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

// Cells for a terminal: line ends shown as \n, cut to `width` characters.
std::string Cell(const Value& v, size_t width) {
  if (!v) return "NULL";
  std::string out;
  size_t chars = 0;
  for (size_t i = 0; i < v->size(); ++i) {
    const unsigned char c = static_cast<unsigned char>((*v)[i]);
    if ((c & 0xC0) != 0x80 && ++chars > width) {
      out += "…";
      break;
    }
    if (c == '\n' || c == '\r' || c == '\t') {
      out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

size_t Width(const std::string& s) {
  size_t n = 0;
  for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

void PrintTable(const Rows& rows, long limit,
                const std::vector<size_t>& shown) {
  const size_t count = limit > 0 ? std::min<size_t>(limit, rows.values.size())
                                 : rows.values.size();
  std::vector<std::vector<std::string>> cells(count + 1);
  std::vector<size_t> widths(shown.size(), 0);
  for (size_t c = 0; c < shown.size(); ++c) {
    cells[0].push_back(rows.columns[shown[c]]);
    for (size_t r = 0; r < count; ++r) {
      const std::string& col = rows.columns[shown[c]];
      const size_t width = col == "f_text" || col == "f_xml" ? 40 : 24;
      cells[r + 1].push_back(Cell(rows.values[r][shown[c]], width));
    }
  }
  for (auto& line : cells) {
    for (size_t c = 0; c < line.size(); ++c)
      widths[c] = std::max(widths[c], Width(line[c]));
  }
  for (size_t r = 0; r < cells.size(); ++r) {
    std::string out;
    for (size_t c = 0; c < cells[r].size(); ++c) {
      out += (c ? " | " : "") + cells[r][c] +
             std::string(
                 c + 1 < cells[r].size() ? widths[c] - Width(cells[r][c]) : 0,
                 ' ');
    }
    std::printf("%s\n", out.c_str());
    if (r == 0) {
      std::string rule;
      for (size_t c = 0; c < widths.size(); ++c)
        rule += (c ? "-+-" : "") + std::string(widths[c], '-');
      std::printf("%s\n", rule.c_str());
    }
  }
  if (count < rows.values.size()) {
    std::printf("... and %zu more rows (--limit 0 shows all)\n",
                rows.values.size() - count);
  }
}

// Tab-separated, complete: \\, \t, \n and \r escaped, NULL as \N.
void PrintTsv(const Rows& rows, const std::vector<size_t>& shown) {
  auto field = [](const std::string& s) {
    std::string out;
    for (char c : s) {
      switch (c) {
        case '\\':
          out += "\\\\";
          break;
        case '\t':
          out += "\\t";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        default:
          out += c;
      }
    }
    return out;
  };
  std::string out;
  for (size_t c = 0; c < shown.size(); ++c)
    out += (c ? "\t" : "") + field(rows.columns[shown[c]]);
  std::printf("%s\n", out.c_str());
  for (const auto& row : rows.values) {
    out.clear();
    for (size_t c = 0; c < shown.size(); ++c) {
      out += c ? "\t" : "";
      out += row[shown[c]] ? field(*row[shown[c]]) : "\\N";
    }
    std::printf("%s\n", out.c_str());
  }
}

std::vector<size_t> AllColumns(const Rows& rows) {
  std::vector<size_t> all(rows.columns.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = i;
  return all;
}

long Column(const Rows& rows, const char* name) {
  for (size_t i = 0; i < rows.columns.size(); ++i) {
    if (rows.columns[i] == name) return static_cast<long>(i);
  }
  return -1;
}

// A file descriptor closed with its owner.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ > 2) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Lines of a file or of standard input, each at most kMaxLine bytes: a
// longer one is read through and reported, never held. Reads take what is
// there, so records arriving through a pipe are stored as they come; an
// interrupt ends the input.
class LineReader {
 public:
  static constexpr size_t kMaxLine = 64u << 20;
  explicit LineReader(int fd) : fd_(fd) {}
  // False at the end or on a read error (then `error` is errno).
  // `too_long` marks a line that was cut.
  bool Next(std::string& line, bool& too_long) {
    line.clear();
    too_long = false;
    bool any = false;
    while (true) {
      if (pos_ == len_) {
        const ssize_t n = read(fd_, buf_, sizeof buf_);
        if (n < 0 && errno == EINTR && !StopRequested()) continue;
        if (n < 0 && errno != EINTR) error = errno;
        len_ = n > 0 ? static_cast<size_t>(n) : 0;
        pos_ = 0;
        if (len_ == 0) return any && error == 0 && !StopRequested();
      }
      any = true;
      const char* start = buf_ + pos_;
      const void* nl = std::memchr(start, '\n', len_ - pos_);
      const size_t take =
          nl ? static_cast<const char*>(nl) - start : len_ - pos_;
      consumed += take + (nl ? 1 : 0);
      if (line.size() + take > kMaxLine) {
        too_long = true;
      } else {
        line.append(start, take);
      }
      pos_ += take + (nl ? 1 : 0);
      if (nl) return true;
    }
  }
  unsigned long long consumed = 0;
  int error = 0;

 private:
  int fd_;
  char buf_[65536];
  size_t pos_ = 0, len_ = 0;
};

// A progress line on standard error, only when it is a terminal. Messages
// printed while it shows start on a line of their own (Break), and the last
// state stays on its line, which ends (Done).
class Progress {
 public:
  explicit Progress(long long total_bytes)
      : on_(isatty(2) == 1), total_(total_bytes), start_(Clock::now()) {}
  void Update(long records, unsigned long long bytes) {
    if (!on_ || (records & 255) != 0) return;
    const double t = Seconds();
    if (t - last_ < 0.1) return;
    last_ = t;
    Draw(records, bytes);
  }
  void Break() {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
  }
  void Done(long records, unsigned long long bytes) {
    if (!on_) return;
    Draw(records, bytes);
    Break();
  }
  double Seconds() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
  }

 private:
  using Clock = std::chrono::steady_clock;
  void Draw(long records, unsigned long long bytes) {
    const double t = Seconds();
    const double rate = t > 0 ? records / t : 0;
    if (total_ > 0) {
      const double part = std::min<double>(bytes, total_) / total_;
      const int fill = static_cast<int>(30.0 * part);
      std::fprintf(stderr, "\r[%s%s] %3d%%  %ld records  %.0f/s ",
                   std::string(fill, '#').c_str(),
                   std::string(30 - fill, '.').c_str(),
                   static_cast<int>(100.0 * part), records, rate);
    } else {
      std::fprintf(stderr, "\r%ld records  %.0f/s ", records, rate);
    }
    drawn_ = true;
  }

  bool on_;
  bool drawn_ = false;
  long long total_;
  Clock::time_point start_;
  double last_ = -1;  // the first update draws
};

volatile std::sig_atomic_t g_signal = 0;

void OnStop(int signal) {
  g_signal = signal;
  RequestStop();
}

// The first INT or TERM asks the ingest to end its batch and stop; a second
// one ends the program at once (the database then rolls the batch back).
// No SA_RESTART: a read waiting for input returns.
void CatchStop() {
  struct sigaction action {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// An argument as a POSIX shell reads it back.
std::string Quoted(const std::string& arg) {
  if (!arg.empty() &&
      arg.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                            "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                            "0123456789_-./=:,+@%") == std::string::npos) {
    return arg;
  }
  std::string out = "'";
  for (char c : arg)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

// ---------------------------------------------------------------- set-up

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
  if (!o_.quiet) std::printf("sql> %s\n", sql.c_str());
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

Failure Road::Tried(bool ok) const {
  return ok ? Failure::kNone : db_->failure();
}

bool Road::SyncReads() {
  sync_reads_ = true;
  if (db_->SyncReads(true)) return true;
  Failed("SET SESSION wsrep_sync_wait = 1", db_->error());
  return false;
}

bool Road::Query(const std::string& sql, Rows& rows, bool show) {
  if (show) Show(sql);
  if (db_->Query(sql, rows)) return true;
  Failed(sql, db_->error());
  return false;
}

std::string Road::TextTable() {
  return RecordText([&](char* b, uint32_t n) { return q_.GetTableName(b, n); });
}

std::vector<std::string> Road::UserTables() {
  if (q_.GetUseUserTable(device_) == 0) return {};
  return Statements(BatchText(
      [&](char* b, uint32_t n) { return q_.GetUserTableNames(device_, b, n); },
      quillmore_tools::UserTableEntryBound(q_, device_)));
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

int Road::Init() {
  const std::string table = TextTable();
  if (!o_.odbc) {
    const std::string library = RecordText(
        [&](char* b, uint32_t n) { return q_.GetCreateQuery(type_, b, n); });
    if (!o_.quiet) {
      std::printf(
          "-- SQLite: the database is the file %s (no CREATE DATABASE).\n"
          "-- The library's CREATE of the text table (DV/table%d.sql) is for "
          "SQL Server:\n--   %s\n-- SQLite has no IDENTITY, nvarchar(max) or "
          "xml, so the host runs its own equivalent:\n",
          o_.db.c_str(), type_, library.empty() ? "(none)" : library.c_str());
    }
    for (const std::string& sql : SqliteTextTable(table)) {
      if (!Run(sql)) return kFailed;
    }
  } else {
    const std::string create = RecordText(
        [&](char* b, uint32_t n) { return q_.GetCreateQuery(type_, b, n); });
    if (create.empty()) {
      std::fprintf(
          stderr,
          "quillmore-host: no CREATE for the text table (DV/table%d.sql)\n",
          type_);
      return kFailed;
    }
    if (!Run(create)) return kFailed;
  }
  const std::vector<std::string> tables = UserTables();
  std::string added;
  if (!tables.empty()) {
    const std::string batch = BatchText(
        [&](char* b, uint32_t n) {
          return q_.GetUserCreateQueryEx(device_, b, n);
        },
        quillmore_tools::UserTableEntryBound(q_, device_));
    for (const std::string& create : Statements(batch)) {
      // "CREATE TABLE name (...", as the library writes it.
      const size_t open = create.find(" (");
      const std::string name =
          create.rfind("CREATE TABLE ", 0) == 0 && open != std::string::npos
              ? create.substr(13, open - 13)
              : "";
      for (const std::string& sql : db_->KeyedUserTable(create, name, added)) {
        if (!Run(sql)) return kFailed;
      }
    }
  }
  std::printf("device %d ready on %s: text table %s", device_,
              db_->Describe().c_str(), table.c_str());
  for (const std::string& t : tables) std::printf(", user table %s", t.c_str());
  std::printf("\n");
  if (!added.empty()) {
    std::printf("the host added to each user table's CREATE: %s\n",
                added.c_str());
  }
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
    if (number <= o_.skip ||
        (line.find_first_not_of(" \t\r") == std::string::npos && !too_long)) {
      ingest.Pass(number);
      continue;
    }
    if (too_long || !ParseJsonLine(line, record, error)) {
      ++bad_lines;
      progress.Break();
      std::fprintf(stderr, "quillmore-host: %s line %ld is no record: %s\n",
                   name.c_str(), number,
                   too_long ? "longer than 64 MiB" : error.c_str());
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
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return kFailed;
  if (stopped_by != 0) return 128 + stopped_by;
  return ok && reader.error == 0 && ingest.refused + bad_lines == 0 ? kOk
                                                                    : kFailed;
}

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
  Rows rows;
  if (!SyncReads() || !OnAnyNode([&] { return Tried(Query(sql, rows)); }))
    return kFailed;
  if (o_.tsv) {
    PrintTsv(rows, AllColumns(rows));
    return kOk;
  }
  // f_xml repeats what the user-table columns show, and each joined table
  // repeats f_id.
  std::vector<size_t> shown;
  for (size_t i = 0; i < rows.columns.size(); ++i) {
    const std::string& c = rows.columns[i];
    if (c != "f_xml" && c != "f_systime" && c != "f_savepath" &&
        c != "f_savepos" && (c != "f_id" || shown.empty())) {
      shown.push_back(i);
    }
  }
  std::set<std::string> records;
  const long id = Column(rows, "f_id");
  for (const auto& row : rows.values)
    records.insert(id >= 0 ? row[id].value_or("") : "");
  PrintTable(rows, o_.limit, shown);
  std::printf(
      "%zu rows (one per row of each joined user table) for %zu records\n",
      rows.values.size(), records.size());
  return kOk;
}

int Road::Search(int camera, const std::string& from, const std::string& to,
                 const std::vector<std::string>& terms) {
  std::vector<_tagSEARCHPARAM> params;
  std::string error;
  if (!quillmore_tools::ParseSearchArgs(terms, params, error)) {
    std::fprintf(stderr, "quillmore-host: search: %s\n", error.c_str());
    return kUsage;
  }
  const uint32_t items = q_.GetItemSearchElementsCount(device_);
  std::vector<std::string> xml_items;
  bool keyword_items = false;
  std::vector<_tagSEARCHPARAM> escaped = params;
  for (_tagSEARCHPARAM& p : escaped) {
    if (p.nItemIndex >= 0) {
      _tagITEMSEARCHINFO item{};
      if (static_cast<uint32_t>(p.nItemIndex) >= items ||
          q_.GetItemSearchElementByIndex(device_, p.nItemIndex, &item) == 0) {
        std::fprintf(
            stderr,
            "quillmore-host: search: device %d has no item %d (it has %u)\n",
            device_, p.nItemIndex, items);
        return kUsage;
      }
      keyword_items = keyword_items || item.byType >= 2;
      if (item.byType == 0)
        xml_items.push_back(std::to_string(p.nItemIndex) + " (" + item.szName +
                            ")");
    }
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
  const int join = o_.or_mode ? 1 : 0;
  const std::string sql = RecordText(
      [&](char* b, uint32_t n) {
        return q_.GetSelectQueryByItemIndex(
            camera, Esc(from).c_str(), Esc(to).c_str(),
            escaped.empty() ? nullptr : escaped.data(),
            static_cast<uint32_t>(escaped.size()), join, b, n);
      },
      quillmore_tools::kFieldLimit +
          1024 * static_cast<uint32_t>(escaped.size()));
  if (sql.empty()) {
    std::fprintf(stderr, "quillmore-host: the library made no search SELECT\n");
    return kFailed;
  }
  if (sql.find(".exist('") != std::string::npos) {
    Show(sql);
    std::string names;
    for (const std::string& n : xml_items)
      names += (names.empty() ? "" : ", ") + n;
    std::fprintf(
        stderr,
        "quillmore-host: this search can't run on %s: item %s searches "
        "the record's XML, and its clause m.f_xml.exist(...) needs SQL "
        "Server's xml column type. The statement above is what SQL "
        "Server would run.\n",
        db_->Describe().c_str(), names.c_str());
    return kCannotRun;
  }
  Rows rows;
  if (!SyncReads() ||
      !OnAnyNode([&] { return Tried(Query(sql, rows, !o_.ids)); })) {
    return kFailed;
  }
  const long id_col = Column(rows, "f_id"), text_col = Column(rows, "f_text");
  // A joined group table gives a record once per matching row.
  std::vector<std::string> ids, passed;
  std::set<std::string> seen;
  Rows shown{rows.columns, {}};
  for (const auto& row : rows.values) {
    const std::string id = row[id_col].value_or("");
    if (!seen.insert(id).second) continue;
    ids.push_back(id);
    const std::string text = row[text_col].value_or("");
    if (q_.IsValidSearchRecord(
            text.c_str(), params.empty() ? nullptr : params.data(),
            static_cast<uint32_t>(params.size()), join) != 0) {
      passed.push_back(id);
      shown.values.push_back(row);
    }
  }
  auto list = [](const std::vector<std::string>& v) {
    std::string out;
    for (const std::string& s : v) out += " " + s;
    return out;
  };
  if (o_.ids) {
    std::printf("sql:%s\npassed:%s\n", list(ids).c_str(), list(passed).c_str());
    return kOk;
  }
  if (o_.tsv) {
    PrintTsv(shown, AllColumns(shown));
    return kOk;
  }
  std::printf("the SELECT gave %zu rows, %zu records:%s\n", rows.values.size(),
              ids.size(), list(ids).c_str());
  if (keyword_items) {
    std::printf(
        "the keyword items, tested in memory on each record's text, passed "
        "%zu:%s\n",
        passed.size(), list(passed).c_str());
  } else {
    std::printf(
        "no keyword item among the terms: all %zu passed the test in memory\n",
        passed.size());
  }
  std::vector<size_t> cols;
  for (const char* c : {"f_id", "f_date", "f_cam", "f_text"}) {
    if (Column(shown, c) >= 0) cols.push_back(Column(shown, c));
  }
  if (!shown.values.empty()) PrintTable(shown, o_.limit, cols);
  return kOk;
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
  const std::string text_table = TextTable();
  std::vector<std::string> names = {text_table};
  for (const std::string& t : UserTables()) names.push_back(t);
  std::vector<std::string> present;
  if (!SyncReads()) return kFailed;
  if (!db_->ListTables(present)) {
    Failed("(the list of tables)", db_->error());
    return kFailed;
  }
  const std::set<std::string> have(present.begin(), present.end());
  const bool text_there = have.count(text_table) != 0;
  if (o_.tsv) std::printf("table\trows\twithout a text record\n");
  for (size_t i = 0; i < names.size(); ++i) {
    std::string rows = "missing", orphans = i == 0 ? "" : "-";
    Rows r;
    if (have.count(names[i]) != 0) {
      if (!Query("SELECT COUNT(*) FROM " + names[i], r, false)) return kFailed;
      rows = r.values.at(0).at(0).value_or("0");
      if (i > 0 && text_there) {
        if (!Query("SELECT COUNT(*) FROM " + names[i] +
                       " WHERE f_id NOT IN (SELECT f_id FROM " + text_table +
                       ")",
                   r, false)) {
          return kFailed;
        }
        orphans = r.values.at(0).at(0).value_or("0");
      }
    }
    if (o_.tsv) {
      std::printf("%s\t%s\t%s\n", names[i].c_str(), rows.c_str(),
                  orphans.c_str());
    } else {
      std::printf(
          "  %-34s %8s rows%s%s\n", names[i].c_str(), rows.c_str(),
          orphans.empty() || orphans == "-" ? "" : ", without a text record: ",
          orphans == "-" ? "" : orphans.c_str());
    }
  }
  size_t others = 0;
  std::string listed;
  for (const std::string& t : present) {
    if (std::find(names.begin(), names.end(), t) != names.end()) continue;
    if (++others <= 8) listed += (others > 1 ? ", " : " (") + t;
  }
  if (others > 8) listed += ", ...";
  if (others > 0) listed += ")";
  if (o_.tsv) {
    std::printf("(other tables)\t%zu\t\n", others);
  } else {
    std::printf("  other tables in the database: %zu%s\n", others,
                listed.c_str());
  }
  return kOk;
}

}  // namespace qmhost
