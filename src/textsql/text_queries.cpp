#include "textsql/text_queries.h"

namespace quillmore {
namespace {

std::string Quoted(std::string_view value) {
  return "'" + std::string(value) + "'";
}

// A name placed into a printf-style template.
std::string FormatSafe(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

}  // namespace

std::vector<std::string_view> SplitNameList(std::string_view list) {
  std::vector<std::string_view> names;
  while (!list.empty()) {
    const std::size_t end = list.find('\n');
    std::string_view piece = list.substr(0, end);
    if (!piece.empty()) names.push_back(piece);
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return names;
}

std::string InsertQuery(std::string_view table, int camera,
                        std::string_view date, std::string_view systemTime,
                        std::string_view text, std::string_view xml,
                        std::string_view savePath, std::uint32_t savePosition) {
  return "INSERT INTO " + std::string(table) +
         " (f_date, f_systime, f_cam, f_text, f_xml, f_savepath, f_savepos)"
         " VALUES (" +
         Quoted(date) + ", " + Quoted(systemTime) + ", " +
         std::to_string(camera) + ", " + Quoted(text) + ", " + Quoted(xml) +
         ", " + Quoted(savePath) + ", " +
         std::to_string(static_cast<std::int32_t>(savePosition)) + ")";
}

std::string DeleteByIdBatch(std::string_view table, std::string_view userTables,
                            int recordNumber) {
  const std::string below = " WHERE f_id < " + std::to_string(recordNumber);
  std::string out = "DELETE FROM " + std::string(table) + below;
  for (std::string_view name : SplitNameList(userTables)) {
    out += "\nDELETE FROM [" + std::string(name) + "]" + below;
  }
  return out;
}

std::string DeleteByDateBatch(std::string_view table,
                              std::string_view userTables,
                              std::string_view date) {
  const std::string before = " WHERE f_date < " + Quoted(date);
  std::string out;
  for (std::string_view name : SplitNameList(userTables)) {
    out += "DELETE FROM " + std::string(name) +
           " WHERE f_id IN (SELECT f_id FROM " + std::string(table) + before +
           ")\n";
  }
  return out + "DELETE FROM " + std::string(table) + before;
}

std::string SelectTemplate(std::string_view table,
                           std::string_view userTables) {
  std::string from = FormatSafe(table) + " m";
  for (std::string_view name : SplitNameList(userTables)) {
    const std::string safe = FormatSafe(name);
    // Both blanks after '=' and the trailing blank belong to the join text.
    from += " INNER JOIN " + safe + " ON m.f_id =  " + safe + ".f_id ";
  }
  return "SELECT * FROM " + from +
         " WHERE m.f_date between '%s' and '%s' order by m.f_id";
}

}  // namespace quillmore
