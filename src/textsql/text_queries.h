// The INSERT, DELETE and SELECT statements over a device's text table and
// its user tables, as plain functions of the table names and the values.
// Caller-supplied values go between single quotes as they are; the caller
// doubles any apostrophe inside them. No I/O, no size limits: the DataStore
// applies the caller's buffer size.
//
// Nothing here allocates once the caller's string has grown: the INSERT is
// a list of pieces pointing into its arguments, and the other statements
// are written into a string the caller passes (its content replaced, its
// capacity reused).
#ifndef QUILLMORE_TEXTSQL_TEXT_QUERIES_H_
#define QUILLMORE_TEXTSQL_TEXT_QUERIES_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quillmore {

// One INSERT of a text record as the pieces that, laid end to end, form it,
// so that a caller can measure it before copying it anywhere. The pieces
// point into the arguments and into the object, which therefore can't be
// copied and must not outlive the arguments. The save position is written
// as a signed 32-bit number (2^31 and above come out negative).
class InsertStatement {
 public:
  InsertStatement(std::string_view table, int camera, std::string_view date,
                  std::string_view systemTime, std::string_view text,
                  std::string_view xml, std::string_view savePath,
                  std::uint32_t savePosition);
  InsertStatement(const InsertStatement&) = delete;
  InsertStatement& operator=(const InsertStatement&) = delete;

  std::span<const std::string_view> pieces() const { return pieces_; }

 private:
  char camera_[12];
  char position_[12];
  std::string_view pieces_[17];
};

// DELETEs of the records below `recordNumber`: the text table first, then
// each user table of `userTables` (a line-feed list, empty names skipped),
// its name in brackets.
void DeleteByIdBatch(std::string& out, std::string_view table,
                     std::string_view userTables, int recordNumber);

// DELETEs of the records dated before `date`: each user table first (its
// rows chosen through the text table's dates), the text table last.
void DeleteByDateBatch(std::string& out, std::string_view table,
                       std::string_view userTables, std::string_view date);

// The SELECT of a date range with every user table joined in, holding two
// "%s" placeholders (lower and upper bound) and nothing else that a
// printf-style expansion would read: a '%' inside a table name is written
// "%%".
void SelectTemplate(std::string& out, std::string_view table,
                    std::string_view userTables);

}  // namespace quillmore

#endif  // QUILLMORE_TEXTSQL_TEXT_QUERIES_H_
