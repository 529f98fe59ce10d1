// Any user-table definitions, record and stylesheet: building the record's
// INSERTs never faults and never passes the statement bound. The input is
// the definitions, a zero byte, the record and, when one follows another
// zero byte, a stylesheet the record goes through. Definitions are lines
// "name" (a column) or "name:child,child,..." (a group element), any
// bytes, any number, repeated or not.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "testing/test_installation.h"
#include "usertable/xml_insert.h"
#include "xml/record_reader.h"
#include "xml/xml_parser.h"

namespace {

struct Definitions {
  std::vector<_tagUSERTABLEINFO> top;
  std::vector<std::vector<_tagUSERTABLEINFO>> children;
};

_tagUSERTABLEINFO Definition(std::string_view name) {
  _tagUSERTABLEINFO d{};
  const std::size_t n = std::min(name.size(), sizeof d.szElement - 1);
  std::memcpy(d.szElement, name.data(), n);
  d.dwFieldLen = 50;
  return d;
}

Definitions Parse(std::string_view text) {
  Definitions defs;
  while (!text.empty() && defs.top.size() < 300) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    const std::size_t colon = line.find(':');
    defs.top.push_back(Definition(line.substr(0, colon)));
    defs.children.emplace_back();
    if (colon == std::string_view::npos) continue;
    std::string_view rest = line.substr(colon + 1);
    while (defs.children.back().size() < 255) {
      const std::size_t comma = rest.find(',');
      defs.children.back().push_back(Definition(rest.substr(0, comma)));
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  for (std::size_t i = 0; i < defs.top.size(); ++i) {
    defs.top[i].dwChildLen =
        static_cast<std::uint32_t>(defs.children[i].size());
    defs.top[i].pChild =
        defs.children[i].empty() ? nullptr : defs.children[i].data();
  }
  return defs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  static quillmore::TestInstallation installation;  // removed at exit
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t record_at = input.find('\0');
  if (record_at == std::string::npos) return 0;
  const std::size_t sheet_at = input.find('\0', record_at + 1);
  const Definitions defs = Parse(std::string_view(input).substr(0, record_at));
  const std::string record =
      input.substr(record_at + 1, sheet_at - record_at - 1);
  const std::size_t limit = quillmore::StatementLimit(record.size());
  quillmore::UserInsertBuilder builder(
      std::span<const _tagUSERTABLEINFO>(defs.top.data(), defs.top.size()), 1,
      0x1A2B3C4D, 1 + static_cast<int>(size % 4), 7, limit);
  bool read = false;
  if (sheet_at == std::string::npos) {
    read = quillmore::ReadRecord(record.c_str(), builder);
  } else {
    installation.Write("f.xsl", input.substr(sheet_at + 1));
    quillmore::XmlParser parser;
    read = parser.LoadStylesheet((installation.dv() + "/f.xsl").c_str()) &&
           parser.Transform(record.c_str(), builder);
  }
  if (!read) return 0;
  const std::optional<std::string> statements = builder.Statements();
  if (statements && statements->size() > limit) std::abort();
  return 0;
}
