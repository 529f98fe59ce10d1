#include "textsql/text_queries.h"

#include <charconv>

namespace quillmore {
namespace {

// Calls `each` with every name of a line-feed list, empty pieces skipped.
template <typename F>
void ForEachName(std::string_view list, F each) {
  while (!list.empty()) {
    const std::size_t end = list.find('\n');
    const std::string_view piece = list.substr(0, end);
    if (!piece.empty()) each(piece);
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
}

// `n` in signed decimal, written into `digits`.
std::string_view Decimal(char (&digits)[12], std::int32_t n) {
  return {digits,
          static_cast<std::size_t>(
              std::to_chars(digits, digits + sizeof digits, n).ptr - digits)};
}

// A name placed into a printf-style template.
void AppendFormatSafe(std::string& out, std::string_view name) {
  for (char c : name) {
    out += c;
    if (c == '%') out += '%';
  }
}

}  // namespace

InsertStatement::InsertStatement(std::string_view table, int camera,
                                 std::string_view date,
                                 std::string_view systemTime,
                                 std::string_view text, std::string_view xml,
                                 std::string_view savePath,
                                 std::uint32_t savePosition)
    : pieces_{"INSERT INTO ",
              table,
              " (f_date, f_systime, f_cam, f_text, f_xml, f_savepath, "
              "f_savepos) VALUES ('",
              date,
              "', '",
              systemTime,
              "', ",
              Decimal(camera_, camera),
              ", '",
              text,
              "', '",
              xml,
              "', '",
              savePath,
              "', ",
              Decimal(position_, static_cast<std::int32_t>(savePosition)),
              ")"} {}

void DeleteByIdBatch(std::string& out, std::string_view table,
                     std::string_view userTables, int recordNumber) {
  char digits[12];
  const std::string_view n = Decimal(digits, recordNumber);
  out.assign("DELETE FROM ").append(table).append(" WHERE f_id < ").append(n);
  ForEachName(userTables, [&](std::string_view name) {
    out.append("\nDELETE FROM [").append(name).append("] WHERE f_id < ");
    out.append(n);
  });
}

void DeleteByDateBatch(std::string& out, std::string_view table,
                       std::string_view userTables, std::string_view date) {
  out.clear();
  auto before = [&] { out.append(" WHERE f_date < '").append(date) += '\''; };
  ForEachName(userTables, [&](std::string_view name) {
    out.append("DELETE FROM ").append(name);
    out.append(" WHERE f_id IN (SELECT f_id FROM ").append(table);
    before();
    out += ")\n";
  });
  out.append("DELETE FROM ").append(table);
  before();
}

void SelectTemplate(std::string& out, std::string_view table,
                    std::string_view userTables) {
  out.assign("SELECT * FROM ");
  AppendFormatSafe(out, table);
  out += " m";
  ForEachName(userTables, [&](std::string_view name) {
    // Both blanks after '=' and the trailing blank belong to the join text.
    out += " INNER JOIN ";
    AppendFormatSafe(out, name);
    out += " ON m.f_id =  ";
    AppendFormatSafe(out, name);
    out += ".f_id ";
  });
  out += " WHERE m.f_date between '%s' and '%s' order by m.f_id";
}

}  // namespace quillmore
