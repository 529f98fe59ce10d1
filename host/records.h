// Text records as quillmore-host reads and writes them: JSON Lines, one
// flat object per record with the fields date, systime, camera, text,
// optional xml, savepath and savepos.
#ifndef QUILLMORE_HOST_RECORDS_H_
#define QUILLMORE_HOST_RECORDS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qmhost {

struct Record {
  std::string date;     // required, "2026-12-01 08:03:10" (IsDateTime)
  std::string systime;  // "" when absent
  int camera = 0;       // required
  std::string text;     // required
  std::optional<std::string> xml;
  std::string savepath;
  uint32_t savepos = 0;
};

// One line without its line end. Non-ASCII bytes are written as they are.
std::string ToJsonLine(const Record& record);

// False with `error` set for a line that is not one flat JSON object with
// the required fields; other keys are ignored. Strings may not hold a zero
// byte (the library takes C strings).
bool ParseJsonLine(std::string_view line, Record& record, std::string& error);

// The one date form of quillmore-host: YYYY-MM-DD HH:MM:SS, a day of the
// Gregorian calendar and a time of day (the text tables compare dates as
// text, so any other form would compare wrongly).
bool IsDateTime(std::string_view date);
// A date given as a bound: the full form, or YYYY-MM-DD alone, which is
// the day's first second, or its last when `last`. False when it is
// neither.
bool DateBound(std::string_view date, bool last, std::string& out);

// A file descriptor closed with its owner (standard input, error and
// output stay open).
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd();
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Lines of a file or of standard input, each at most kMaxLine bytes: a
// longer one is read through and reported, never held. Reads take what is
// there, so records arriving through a pipe are stored as they come; a
// stop asked for (engine.h) ends the input.
class LineReader {
 public:
  static constexpr size_t kMaxLine = 64u << 20;
  explicit LineReader(int fd) : fd_(fd) {}
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  // False at the end, on a stop or on a read error (then `error` is
  // errno). `too_long` marks a line that was cut.
  bool Next(std::string& line, bool& too_long);
  unsigned long long consumed = 0;  // bytes read, line ends included
  int error = 0;

 private:
  int fd_;
  char buf_[65536];
  size_t pos_ = 0, len_ = 0;
};

}  // namespace qmhost

#endif  // QUILLMORE_HOST_RECORDS_H_
