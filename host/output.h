// How quillmore-host shows what it found: tables for a terminal, the same
// rows tab-separated for programs, a progress line on standard error, and
// arguments quoted for a shell. Everything writes to standard output but
// the progress line.
#ifndef QUILLMORE_HOST_OUTPUT_H_
#define QUILLMORE_HOST_OUTPUT_H_

#include <chrono>
#include <string>
#include <vector>

#include "engine.h"

namespace qmhost {

// The columns `shown` of the first `limit` rows (all for 0) as a table,
// cells cut to a terminal's width, line ends shown as \n; then how many
// rows were left out.
void PrintTable(const Rows& rows, long limit, const std::vector<size_t>& shown);
// Every row, tab-separated and complete: \\, \t, \n and \r escaped, NULL
// as \N; the first line names the columns.
void PrintTsv(const Rows& rows, const std::vector<size_t>& shown);
std::vector<size_t> AllColumns(const Rows& rows);
// The first column of that name, or -1.
long Column(const Rows& rows, const char* name);

// An argument as a POSIX shell reads it back.
std::string Quoted(const std::string& arg);

// A progress line on standard error, only when it is a terminal. Messages
// printed while it shows start on a line of their own (Break), and the last
// state stays on its line, which ends (Done).
class Progress {
 public:
  explicit Progress(long long total_bytes);
  void Update(long records, unsigned long long bytes);
  void Break();
  void Done(long records, unsigned long long bytes);
  double Seconds() const;

 private:
  using Clock = std::chrono::steady_clock;
  void Draw(long records, unsigned long long bytes);

  bool on_;
  bool drawn_ = false;
  long long total_;
  Clock::time_point start_;
  double last_ = -1;  // the first update draws
};

}  // namespace qmhost

#endif  // QUILLMORE_HOST_OUTPUT_H_
