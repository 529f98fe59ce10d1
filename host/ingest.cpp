#include "ingest.h"

#include <algorithm>
#include <climits>
#include <map>
#include <thread>

#include "library_text.h"

namespace qmhost {
namespace {

constexpr size_t kBatch = 1000;
// A transaction the database aborted is run again at most this many times,
// after pauses that double from 10 ms up to half a second.
constexpr int kMaxAgain = 12;

const char kSavepoint[] = "SAVEPOINT quillmore_record";
const char kRollbackTo[] = "ROLLBACK TO SAVEPOINT quillmore_record";
const char kRelease[] = "RELEASE SAVEPOINT quillmore_record";

}  // namespace

Recovery::Outcome FindBatch(Engine& db, const std::string& text_table,
                            const std::vector<long long>& ids,
                            const std::vector<const Record*>& records) {
  constexpr size_t kAtOnce = 500;  // ids in one IN list
  size_t same = 0;
  for (size_t at = 0; at < ids.size(); at += kAtOnce) {
    std::map<long long, const Record*> want;
    std::string list;
    for (size_t i = at; i < ids.size() && i < at + kAtOnce; ++i) {
      want[ids[i]] = records[i];
      list += (list.empty() ? "" : ", ") + std::to_string(ids[i]);
    }
    Rows rows;
    if (!db.Query("SELECT f_id, f_text FROM " + text_table +
                      " WHERE f_id IN (" + list + ")",
                  rows)) {
      return Recovery::Outcome::kUnknown;
    }
    for (const auto& row : rows.values) {
      const auto it = want.find(std::stoll(row.at(0).value_or("0")));
      same += it != want.end() && row.at(1) == it->second->text;
    }
  }
  return same == ids.size() ? Recovery::Outcome::kCommitted
         : same == 0        ? Recovery::Outcome::kNotCommitted
                            : Recovery::Outcome::kUnknown;
}

Ingest::Ingest(CQuillmoreExt& q, int device, Engine& db, Report report,
               double busy_timeout, Recovery* recovery)
    : q_(q),
      db_(&db),
      report_(std::move(report)),
      busy_timeout_(busy_timeout),
      recovery_(recovery),
      backslashes_(db.MysqlFamily()),
      user_tables_(q.GetUseUserTable(device) != 0) {
  text_table_ = quillmore_tools::RecordText(
      [&](char* b, uint32_t n) { return q_.GetTableName(b, n); });
}

Failure Ingest::Run(const std::string& sql, Pending& p) {
  if (keep_) first_statements.push_back(sql);
  bool ok;
  {
    Timed t(database_seconds);
    ok = db_->Execute(sql);
  }
  if (ok) return Failure::kNone;
  if (db_->failure() == Failure::kRefused) {
    return Refuse(p, sql, db_->error());
  }
  statement_ = sql;
  return db_->failure();
}

// Outside a savepoint the refusal is the caller's to act on (it runs the
// batch again, carefully); inside one the record's rows go alone.
Failure Ingest::Refuse(Pending& p, std::string statement, std::string message) {
  if (!careful_) return Failure::kRefused;
  bool ok;
  {
    Timed t(database_seconds);
    ok = db_->Execute(kRollbackTo) && db_->Execute(kRelease);
  }
  if (!ok) {
    statement_ = kRollbackTo;
    return db_->failure();
  }
  p.refused = true;
  p.statement = std::move(statement);
  p.message = std::move(message);
  p.user_rows = 0;
  p.without_rows = false;
  return Failure::kNone;
}

Failure Ingest::RunRecord(Pending& p) {
  p.id = 0;
  p.user_rows = 0;
  p.without_rows = false;
  p.refused = false;
  if (careful_) {
    Timed t(database_seconds);
    if (!db_->Execute(kSavepoint)) {
      statement_ = kSavepoint;
      return db_->failure();
    }
  }
  const Record& r = p.record;
  const std::string date = Escaped(r.date, backslashes_);
  const std::string systime = Escaped(r.systime, backslashes_);
  const std::string text = Escaped(r.text, backslashes_);
  const std::string xml = Escaped(r.xml.value_or(""), backslashes_);
  const std::string path = Escaped(r.savepath, backslashes_);
  // The statement's exact length is its fixed text, the table name, the
  // values and two numbers of at most 11 characters.
  const uint64_t bound = 160 + text_table_.size() + date.size() +
                         systime.size() + text.size() + xml.size() +
                         path.size();
  std::string insert;
  if (bound < INT32_MAX) {
    Timed t(library_seconds);
    insert = quillmore_tools::RecordText(
        [&](char* b, uint32_t n) {
          return q_.GetInsertQueryEx(r.camera, date.c_str(), systime.c_str(),
                                     text.c_str(), xml.c_str(), path.c_str(),
                                     r.savepos, b, n);
        },
        static_cast<uint32_t>(bound), static_cast<uint32_t>(bound));
  }
  Failure f = Failure::kNone;
  if (insert.empty() && !careful_) {
    // Nothing of the record ran: no savepoint is needed to leave it out.
    p.refused = true;
    p.statement = "(the INSERT of the record)";
    p.message = "the library made no INSERT for it";
  } else if (insert.empty()) {
    f = Refuse(p, "(the INSERT of the record)",
               "the library made no INSERT for it");
  } else if ((f = Run(insert, p)) == Failure::kNone && !p.refused) {
    long long id = 0;
    bool have_id;
    {
      Timed t(database_seconds);
      have_id = db_->LastInsertId(id);
    }
    if (!have_id) {
      statement_ = "(the f_id of the INSERT)";
      f = db_->failure();
    } else if (id < INT_MIN || id > INT_MAX) {
      f = Refuse(p, "(the f_id of the INSERT)",
                 "the database gave " + std::to_string(id) +
                     ", beyond the library's range");
    } else if (user_tables_ && r.xml && !r.xml->empty()) {
      p.id = id;
      std::string rows;
      const uint64_t limit = 16 * r.xml->size() + 65536;
      {
        Timed t(library_seconds);
        rows = quillmore_tools::RecordText(
            [&](char* b, uint32_t n) {
              return q_.GetUserInsertQuery(static_cast<int>(id), r.xml->c_str(),
                                           b, n);
            },
            static_cast<uint32_t>(std::min<uint64_t>(limit, INT32_MAX)));
      }
      p.without_rows = rows.empty();
      for (const std::string& row : Statements(rows)) {
        if ((f = Run(row, p)) != Failure::kNone || p.refused) break;
        ++p.user_rows;
      }
    } else {
      p.id = id;
    }
  }
  keep_ = false;
  if (f == Failure::kNone && careful_ && !p.refused) {
    Timed t(database_seconds);
    if (!db_->Execute(kRelease)) {
      statement_ = kRelease;
      f = db_->failure();
    }
  }
  return f;
}

Failure Ingest::RunFrom(size_t first) {
  if (!transaction_) {
    Timed t(database_seconds);
    if (!db_->Begin()) {
      statement_ = "BEGIN";
      return db_->failure();
    }
    transaction_ = true;
  }
  for (size_t i = first; i < pending_.size(); ++i) {
    const Failure f = RunRecord(pending_[i]);
    if (f != Failure::kNone) return f;
  }
  return Failure::kNone;
}

void Ingest::Rollback() {
  if (!transaction_) return;
  Timed t(database_seconds);
  db_->Rollback();
  transaction_ = false;
}

bool Ingest::Stop(Failure kind, const std::string& message) {
  if (kind != Failure::kLost) Rollback();
  transaction_ = false;
  stopped_ = kind;
  error_ = message;
  pending_.clear();
  return false;
}

bool Ingest::Reconnect() {
  const std::string message = db_->error();
  transaction_ = false;
  std::string why;
  Engine* next =
      recovery_ != nullptr ? recovery_->Reconnect(*db_, why) : nullptr;
  if (next == nullptr) {
    return Stop(Failure::kLost, why.empty() ? message : message + "; " + why);
  }
  db_ = next;
  return true;
}

// Runs the batch again until it runs through or the ingest has to stop.
// `spent`: the seconds the failed attempt took, a busy wait included. The
// batch's waits and runs again are counted across calls until it commits,
// so a COMMIT that keeps failing is bounded too.
bool Ingest::Settle(Failure failure, double spent) {
  while (failure != Failure::kNone) {
    const std::string message = db_->error();
    if (failure == Failure::kLost) {
      if (!Reconnect()) return false;
    } else {
      Rollback();
      if (failure == Failure::kFatal) return Stop(failure, message);
      if (failure == Failure::kRefused) {
        // A refusal no savepoint could hold is no record's fault.
        if (careful_) return Stop(Failure::kFatal, message);
        careful_ = true;
      } else {
        waited_ += spent;
        if (StopRequested() || waited_ >= busy_timeout_ ||
            ++again_ > kMaxAgain) {
          return Stop(failure, message);
        }
        const double pause = std::min(0.5, 0.005 * (1 << again_));
        std::this_thread::sleep_for(std::chrono::duration<double>(pause));
        waited_ += pause;
      }
    }
    spent = 0;
    {
      Timed t(spent);
      failure = RunFrom(0);
    }
  }
  return true;
}

bool Ingest::Add(long line, Record record) {
  if (stopped_ != Failure::kNone) return false;
  Pending& p = pending_.emplace_back();
  p.line = line;
  p.record = std::move(record);
  last_line_ = line;
  double spent = 0;
  Failure f;
  {
    Timed t(spent);
    f = RunFrom(pending_.size() - 1);
  }
  if (!Settle(f, spent)) return false;
  return pending_.size() < kBatch || Finish();
}

void Ingest::Pass(long line) {
  last_line_ = line;
  if (pending_.empty()) through_line = line;
}

bool Ingest::Finish() {
  if (stopped_ != Failure::kNone) return false;
  if (pending_.empty()) {
    through_line = last_line_;
    return true;
  }
  while (true) {
    double spent = 0;
    bool ok;
    {
      Timed t(spent);
      ok = db_->Commit();
    }
    database_seconds += spent;
    if (ok) break;
    if (db_->failure() != Failure::kLost) {
      statement_ = "COMMIT";
      if (!Settle(db_->failure(), spent)) return false;
      continue;
    }
    // Lost during the COMMIT: the batch may have committed.
    in_doubt_ = true;
    doubt_to_ = last_line_;
    statement_ = "COMMIT";
    if (!Reconnect()) return false;
    std::vector<long long> ids;
    std::vector<const Record*> records;
    for (const Pending& p : pending_) {
      if (p.refused) continue;
      ids.push_back(p.id);
      records.push_back(&p.record);
    }
    const Recovery::Outcome outcome =
        recovery_->Committed(*db_, text_table_, ids, records);
    if (outcome == Recovery::Outcome::kUnknown) {
      return Stop(Failure::kLost,
                  "the connection was lost during COMMIT, and whether the "
                  "batch committed can't be told");
    }
    in_doubt_ = false;
    if (outcome == Recovery::Outcome::kCommitted) break;
    double again = 0;
    Failure f;
    {
      Timed t(again);
      f = RunFrom(0);
    }
    if (!Settle(f, again)) return false;
  }
  transaction_ = false;
  for (const Pending& p : pending_) {
    if (p.refused) {
      ++refused;
      report_({p.line, p.statement, p.message});
    } else {
      ++records;
      user_rows += p.user_rows;
      without_rows += p.without_rows ? 1 : 0;
    }
  }
  through_line = last_line_;
  pending_.clear();
  careful_ = false;
  waited_ = 0;
  again_ = 0;
  return true;
}

}  // namespace qmhost
