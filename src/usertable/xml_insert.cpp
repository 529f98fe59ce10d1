#include "usertable/xml_insert.h"

#include <cstring>
#include <optional>
#include <vector>

#include "config/record_fields.h"
#include "textsql/table_names.h"
#include "usertable/user_table_ddl.h"
#include "xml/xml_parser.h"

namespace quillmore {
namespace {

std::string Statement(const std::string& table, const std::string& columns,
                      int recordId, const std::string& values) {
  return "INSERT INTO " + table + " (f_id " + columns + ") VALUES ( " +
         std::to_string(recordId) + " " + values + ")";
}

}  // namespace

std::string QuoteSqlValue(std::string_view value, int databaseType) {
  const bool backslash_escapes = databaseType == 4;
  std::string out;
  out.reserve(value.size() + 2);
  out += '\'';
  for (char c : value) {
    if (c == '\'' || (c == '\\' && backslash_escapes)) out += c;
    out += c;
  }
  out += '\'';
  return out;
}

std::string BuildUserInsertQuery(std::span<const _tagUSERTABLEINFO> definitions,
                                 XmlParser& content, int device,
                                 std::uint32_t serial, int databaseType,
                                 int recordId) {
  std::string result;

  std::string columns, values;
  bool any_column = false;
  for (const _tagUSERTABLEINFO& d : definitions) {
    const std::string_view name = FieldView(d.szElement);
    if (d.dwChildLen != 0 || name.empty()) continue;
    const std::string element(name);
    columns += ", " + UserColumnName(element);
    // A missing element or a failed lookup leaves the value empty.
    std::string text;
    content.GetElementText(element.c_str(), text);
    values += ',' + QuoteSqlValue(text, databaseType);
    any_column = true;
  }
  if (any_column) {
    result = Statement(FormatUserTableName(device, std::nullopt, serial),
                       columns, recordId, values);
  }

  for (const _tagUSERTABLEINFO& d : definitions) {
    const std::string_view name = FieldView(d.szElement);
    if (d.dwChildLen == 0 || name.empty() || d.pChild == nullptr) continue;
    const std::string element(name);
    std::optional<std::vector<XmlAttributes>> occurrences =
        content.SelectElements(element.c_str());
    if (!occurrences) continue;
    std::vector<std::string_view> children;
    children.reserve(d.dwChildLen);
    for (std::uint32_t j = 0; j < d.dwChildLen; ++j) {
      children.push_back(FieldView(d.pChild[j].szElement));
    }
    const std::string table = FormatUserTableName(device, name, serial);
    for (const XmlAttributes& attributes : *occurrences) {
      std::string row_columns, row_values;
      for (const auto& [attribute, value] : attributes) {
        bool configured = false;
        for (std::string_view child : children) {
          if (child == attribute) {
            configured = true;
            break;
          }
        }
        if (!configured) continue;
        row_columns += "," + UserColumnName(attribute);
        row_values += ',' + QuoteSqlValue(value, databaseType);
      }
      if (row_columns.empty()) continue;
      if (!result.empty()) result += '\n';
      result += Statement(table, row_columns, recordId, row_values);
    }
  }
  return result;
}

}  // namespace quillmore
