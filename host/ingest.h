// The part of quillmore-host that stores text records: for each record the
// library's INSERT into the text table, the f_id the database gave it, and
// the library's user-table INSERTs for its XML, in transactions of a
// thousand records. The time spent inside the library and inside the
// engine is kept apart. Used by the ingest command and the benchmark.
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

class Ingest {
 public:
  // A statement the engine refused, with its message. The record's other
  // statements still run (a refused text-table INSERT skips its rows).
  using Report = std::function<void(const std::string& statement,
                                    const std::string& message)>;

  // `q` has `device` loaded; it must use a database.
  Ingest(CQuillmoreExt& q, int device, Engine& db, Report report);

  // False when the engine failed beyond one statement (a transaction could
  // not begin or end); error() says why. A refused statement is no failure.
  bool Add(const Record& record);
  bool Finish();
  const std::string& error() const { return error_; }

  long records = 0;       // text-table rows stored
  long user_rows = 0;     // user-table rows stored
  long refused = 0;       // statements the engine refused
  long without_rows = 0;  // records with XML of which the library made no rows
  double library_seconds = 0;
  double database_seconds = 0;
  // The statements of the first record, for showing what runs.
  std::vector<std::string> first_statements;

 private:
  bool Run(const std::string& sql);

  CQuillmoreExt& q_;
  Engine& db_;
  Report report_;
  bool backslashes_;
  bool user_tables_;
  size_t table_length_;
  int in_batch_ = 0;
  bool keep_ = true;
  std::string error_;
};

}  // namespace qmhost

#endif  // QUILLMORE_HOST_INGEST_H_
