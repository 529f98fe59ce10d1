// The part of quillmore-host that stores text records: for each record the
// library's INSERT into the text table, the f_id the database gave it, and
// the library's user-table INSERTs for its XML, in transactions of a
// thousand records. The time spent inside the library and inside the
// engine is kept apart. Used by the ingest command and the benchmark.
//
// A record is its text row and all its user-table rows, stored whole or not
// at all, and counted as stored only once its batch committed. The batch in
// flight is kept in memory so that one path can act on every kind of
// failure (engine.h):
// - a refused value: the batch is rolled back and run again with each
//   record in a savepoint; the refused record's rows are rolled back alone
//   and it is reported with its input line once the batch committed;
// - a transaction to run again (busy, deadlock): the batch is rolled back
//   and run again after a short pause, until the busy timeout has been
//   spent waiting;
// - a lost connection: the Recovery, when the host has one, gives another
//   connection and says whether a batch lost during its COMMIT committed;
//   without one the ingest stops;
// - anything fatal: the batch is rolled back and the ingest stops at once.
// After a stop, `through_line` says how far the input is stored: every line
// up to it is committed or needed nothing, and nothing after it is.
#ifndef QUILLMORE_HOST_INGEST_H_
#define QUILLMORE_HOST_INGEST_H_

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "engine.h"
#include "quillmore/QuillmoreExt.h"
#include "records.h"

namespace qmhost {

// Adds the time a call takes to a total, in seconds.
class Timed {
 public:
  explicit Timed(double& total)
      : total_(total), start_(std::chrono::steady_clock::now()) {}
  ~Timed() {
    total_ +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_)
            .count();
  }
  Timed(const Timed&) = delete;
  Timed& operator=(const Timed&) = delete;

 private:
  double& total_;
  std::chrono::steady_clock::time_point start_;
};

// What the ingest asks of a host that can reach its database another way
// after a lost connection (another node of a cluster, say).
class Recovery {
 public:
  enum class Outcome { kCommitted, kNotCommitted, kUnknown };
  virtual ~Recovery() = default;
  // A connection to go on with, connected and outside any transaction, or
  // null to stop (`error` then says why). Called with the engine whose
  // connection was lost, which the call may destroy; the engine returned
  // stays valid until the next call.
  virtual Engine* Reconnect(Engine& lost, std::string& error) = 0;
  // Whether the batch whose COMMIT lost its connection committed after all:
  // the text row of `records[i]` was given `ids[i]` by `text_table`. Ids
  // alone can't tell: the ids of a batch that never committed may be given
  // again, to other records.
  virtual Outcome Committed(Engine& db, const std::string& text_table,
                            const std::vector<long long>& ids,
                            const std::vector<const Record*>& records) = 0;
};

// What `text_table` on `db` holds of a batch whose COMMIT lost its
// connection (the text row of `records[i]` was given `ids[i]`): every row
// with the text written, it committed; none, it did not; some, it can't be
// told. A failed read can't tell either.
Recovery::Outcome FindBatch(Engine& db, const std::string& text_table,
                            const std::vector<long long>& ids,
                            const std::vector<const Record*>& records);

class Ingest {
 public:
  // A record that was not stored, reported once its batch committed.
  struct Refusal {
    long line;
    std::string statement;  // or what the host tried, in parentheses
    std::string message;
  };
  using Report = std::function<void(const Refusal&)>;

  // `q` has `device` loaded; it must use a database. `recovery` may be null.
  Ingest(CQuillmoreExt& q, int device, Engine& db, Report report,
         double busy_timeout = 60, Recovery* recovery = nullptr);

  // Adds the record of input line `line`. False when the ingest had to
  // stop: error() and stopped() say why, and the batch in flight is not
  // counted.
  bool Add(long line, Record record);
  // A line that holds no record (blank, or refused before the database):
  // it counts as passed once the batch it falls in commits.
  void Pass(long line);
  // Commits the batch in flight. False as for Add.
  bool Finish();

  const std::string& error() const { return error_; }
  // The statement the engine failed on, when one stopped the ingest.
  const std::string& statement() const { return statement_; }
  Failure stopped() const { return stopped_; }
  // The connection was lost during a COMMIT and nobody could say whether
  // it committed: lines `through_line` + 1 to `doubt_to` may be stored.
  bool in_doubt() const { return in_doubt_; }
  long doubt_to() const { return doubt_to_; }
  // Records read but not yet committed.
  long in_flight() const { return static_cast<long>(pending_.size()); }

  long records = 0;       // records stored whole
  long user_rows = 0;     // their user-table rows
  long refused = 0;       // records the library or the database refused
  long without_rows = 0;  // stored records with XML that gave no row
  long through_line = 0;  // every line up to this one is done
  double library_seconds = 0;
  double database_seconds = 0;
  // The statements of the first record, for showing what runs.
  std::vector<std::string> first_statements;

 private:
  struct Pending {
    long line = 0;
    Record record;
    long long id = 0;
    long user_rows = 0;
    bool without_rows = false;
    bool refused = false;
    std::string statement, message;
  };

  Failure RunFrom(size_t first);
  Failure RunRecord(Pending& p);
  Failure Run(const std::string& sql, Pending& p);
  Failure Refuse(Pending& p, std::string statement, std::string message);
  bool Settle(Failure failure, double spent);
  bool Reconnect();
  bool Stop(Failure kind, const std::string& message);
  void Committed();
  void Rollback();

  CQuillmoreExt& q_;
  Engine* db_;
  Report report_;
  double busy_timeout_;
  Recovery* recovery_;
  bool backslashes_;
  bool user_tables_;
  std::string text_table_;
  std::vector<Pending> pending_;
  long last_line_ = 0;  // the last line added or passed
  bool transaction_ = false;
  bool careful_ = false;  // each record in a savepoint
  double waited_ = 0;     // seconds the batch waited for a busy database
  int again_ = 0;         // times the batch was run again after kAgain
  bool keep_ = true;
  bool in_doubt_ = false;
  long doubt_to_ = 0;
  Failure stopped_ = Failure::kNone;
  std::string error_, statement_;
};

}  // namespace qmhost

#endif  // QUILLMORE_HOST_INGEST_H_
