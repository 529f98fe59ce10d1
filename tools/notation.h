// The CLI's compact notations for definitions, both ways.
//
// User tables: "Total:20 Cashier:30 Item[name:40,price:10]". NAME:LENGTH is
// a column of the main user table (NAME:LENGTH:TYPE stores a field type
// too); NAME[...] is a group element whose attribute columns fill a group
// table of its own. Entries are separated by blanks. The parser refuses
// what the library would refuse or store differently (an empty or repeated
// name on one level, a name over 49 bytes or that is no plain identifier,
// a group over 255 columns), each with a message naming the entry.
//
// Search items: FIELD=VALUE arguments, see kItemFields in quillmore_main.
#ifndef QUILLMORE_TOOLS_NOTATION_H_
#define QUILLMORE_TOOLS_NOTATION_H_

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "quillmore/QuillmoreExt.h"

namespace quillmore_tools {

struct UserTableDef {
  std::string name;
  int32_t length = 0;
  uint8_t type = 0;
  std::vector<UserTableDef> children;  // a group element when not empty
};

// Letters, digits and _, not a digit first: the names the library takes
// into SQL and XPath.
inline bool IsIdentifier(const std::string& name) {
  return !name.empty() && (name[0] < '0' || name[0] > '9') &&
         name.find_first_not_of(
             "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
             "_") == std::string::npos;
}

namespace notation_detail {

inline bool Number(const std::string& s, long lo, long hi, long& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end != '\0' || errno != 0 || v < lo || v > hi) return false;
  out = v;
  return true;
}

// NAME:LENGTH[:TYPE]
inline bool Column(const std::string& entry, UserTableDef& def,
                   std::string& error) {
  const size_t colon = entry.find(':');
  if (colon == std::string::npos) {
    error = "'" + entry + "': a column is NAME:LENGTH";
    return false;
  }
  def.name = entry.substr(0, colon);
  std::string length = entry.substr(colon + 1), type = "0";
  const size_t second = length.find(':');
  if (second != std::string::npos) {
    type = length.substr(second + 1);
    length.resize(second);
  }
  long n = 0, t = 0;
  if (!Number(length, 1, 2147483647L, n)) {
    error = "'" + entry + "': LENGTH is a whole number from 1 up";
    return false;
  }
  if (!Number(type, 0, 255, t)) {
    error = "'" + entry + "': TYPE is a number from 0 to 255";
    return false;
  }
  def.length = static_cast<int32_t>(n);
  def.type = static_cast<uint8_t>(t);
  return true;
}

inline bool Names(const std::vector<UserTableDef>& defs,
                  const std::string& where, std::string& error) {
  std::set<std::string> seen;
  for (const UserTableDef& d : defs) {
    if (d.name.empty()) {
      error = "an empty name " + where + ": the library refuses it";
    } else if (d.name.size() > 49) {
      error = "'" + d.name + "' " + where +
              " is longer than 49 bytes: the library would cut it";
    } else if (!seen.insert(d.name).second) {
      error = "'" + d.name + "' twice " + where +
              ": the library refuses a name repeated on one level";
    } else if (!IsIdentifier(d.name)) {
      error =
          "'" + d.name + "' " + where +
          ": the library takes letters, digits and _ only, not a digit first";
    }
    if (!error.empty()) return false;
  }
  return true;
}

}  // namespace notation_detail

inline bool ParseUserTables(const std::string& text,
                            std::vector<UserTableDef>& defs,
                            std::string& error) {
  using namespace notation_detail;
  defs.clear();
  size_t i = 0;
  auto blank = [&](size_t k) {
    return text[k] == ' ' || text[k] == '\t' || text[k] == '\n';
  };
  while (i < text.size()) {
    if (blank(i)) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size() && !blank(end) && text[end] != '[') ++end;
    UserTableDef def;
    if (end < text.size() && text[end] == '[') {
      const size_t close = text.find(']', end);
      if (close == std::string::npos) {
        error = "'" + text.substr(i) + "': no closing ']'";
        return false;
      }
      def.name = text.substr(i, end - i);
      const std::string inner = text.substr(end + 1, close - end - 1);
      for (size_t s = 0; s <= inner.size();) {
        size_t comma = inner.find(',', s);
        if (comma == std::string::npos) comma = inner.size();
        std::string child = inner.substr(s, comma - s);
        while (!child.empty() && child.front() == ' ') child.erase(0, 1);
        while (!child.empty() && child.back() == ' ') child.pop_back();
        UserTableDef c;
        if (!child.empty() || comma < inner.size()) {
          if (!Column(child, c, error)) return false;
          def.children.push_back(c);
        }
        s = comma + 1;
      }
      if (def.children.empty()) {
        error = "'" + def.name + "[]': a group needs at least one column";
        return false;
      }
      if (def.children.size() > 255) {
        error = "'" + def.name + "' has " +
                std::to_string(def.children.size()) +
                " columns: a group has at most 255";
        return false;
      }
      if (!Names(def.children, "in " + def.name + "[...]", error)) return false;
      i = close + 1;
    } else {
      if (!Column(text.substr(i, end - i), def, error)) return false;
      i = end;
    }
    defs.push_back(def);
  }
  return Names(defs, "at the top level", error);
}

inline std::string FormatUserTables(const std::vector<UserTableDef>& defs) {
  std::string out;
  auto column = [](const UserTableDef& d) {
    return d.name + ":" + std::to_string(d.length) +
           (d.type ? ":" + std::to_string(d.type) : "");
  };
  for (const UserTableDef& d : defs) {
    if (!out.empty()) out += " ";
    if (d.children.empty()) {
      out += column(d);
      continue;
    }
    out += d.name + "[";
    for (size_t i = 0; i < d.children.size(); ++i)
      out += (i ? "," : "") + column(d.children[i]);
    out += "]";
  }
  return out;
}

inline std::vector<UserTableDef> FromRecords(const _tagUSERTABLEINFO* records,
                                             uint32_t count) {
  std::vector<UserTableDef> defs;
  for (uint32_t i = 0; i < count; ++i) {
    UserTableDef d;
    d.name =
        std::string(records[i].szElement, strnlen(records[i].szElement, 50));
    d.length = records[i].dwFieldLen;
    d.type = records[i].byFieldType;
    for (uint32_t j = 0;
         records[i].pChild != nullptr && j < records[i].dwChildLen; ++j) {
      d.children.push_back(FromRecords(records[i].pChild + j, 1)[0]);
    }
    defs.push_back(d);
  }
  return defs;
}

// The records SetUserTableElements and the ByElements getters take; they
// stay valid while this object lives.
class UserTableRecords {
 public:
  explicit UserTableRecords(const std::vector<UserTableDef>& defs) {
    children_.reserve(defs.size());
    for (const UserTableDef& d : defs) {
      _tagUSERTABLEINFO r = Record(d);
      std::vector<_tagUSERTABLEINFO>& kids = children_.emplace_back();
      for (const UserTableDef& c : d.children) kids.push_back(Record(c));
      r.dwChildLen = static_cast<uint32_t>(kids.size());
      r.pChild = kids.empty() ? nullptr : kids.data();
      top_.push_back(r);
    }
  }
  _tagUSERTABLEINFO* data() { return top_.empty() ? &none_ : top_.data(); }
  uint32_t count() const { return static_cast<uint32_t>(top_.size()); }

 private:
  static _tagUSERTABLEINFO Record(const UserTableDef& d) {
    _tagUSERTABLEINFO r{};
    std::snprintf(r.szElement, sizeof r.szElement, "%s", d.name.c_str());
    r.dwFieldLen = d.length;
    r.byFieldType = d.type;
    return r;
  }
  std::vector<_tagUSERTABLEINFO> top_;
  std::vector<std::vector<_tagUSERTABLEINFO>> children_;
  _tagUSERTABLEINFO none_{};
};

// ------------------------------------------------------------ search items

// Sets one FIELD=VALUE of an item; false with `error`, the field named, for
// an unknown field, a number outside what the field means, or a text that
// doesn't fit. Whether a `pre` item exists is the caller's to check.
inline bool SetItemField(_tagITEMSEARCHINFO& item, const std::string& arg,
                         std::string& error) {
  using notation_detail::Number;
  const size_t eq = arg.find('=');
  const std::string field = arg.substr(0, eq == std::string::npos ? 0 : eq);
  const std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
  struct Text {
    const char* field;
    char* target;
    size_t size;
  };
  const Text texts[] = {
      {"name", item.szName, sizeof item.szName},
      {"element", item.szElement, sizeof item.szElement},
      {"attribute", item.szAttribute, sizeof item.szAttribute},
      {"table", item.szTable, sizeof item.szTable},
      {"field", item.szField, sizeof item.szField},
      {"keyword", item.szKeyword, sizeof item.szKeyword},
      {"nokeyword", item.szNoKeyword, sizeof item.szNoKeyword},
      {"value", item.szDefinedValue, sizeof item.szDefinedValue},
  };
  for (const Text& t : texts) {
    if (field != t.field) continue;
    if (value.size() >= t.size) {
      error = "'" + arg + "': " + field + " holds at most " +
              std::to_string(t.size - 1) + " bytes";
      return false;
    }
    // The file trims a value and ends it at a line break.
    if (value.find_first_of("\r\n") != std::string::npos ||
        (!value.empty() && (value.front() == ' ' || value.front() == '\t' ||
                            value.back() == ' ' || value.back() == '\t'))) {
      error = "'" + arg + "': " + field +
              " can't begin or end with a blank, nor hold a line break";
      return false;
    }
    std::memcpy(t.target, value.c_str(), value.size() + 1);
    return true;
  }
  const bool kind = field == "kind";
  if (kind && (value == "xml" || value == "field" || value == "keyword")) {
    item.byType = value == "xml" ? 0 : value == "field" ? 1 : 2;
    return true;
  }
  // The ranges that mean something: a kind above 2 reads as 2, a split
  // outside -1 to 3 selects no test, number and findtype are switches.
  struct Numeric {
    const char* field;
    long lo, hi;
    const char* meaning;
  };
  static const Numeric kNumbers[] = {
      {"kind", 0, 2, "0, 1 or 2 (xml, field, keyword)"},
      {"compare", 0, 255, "a number from 0 to 255"},
      {"split", -1, 3, "-1 (no test) or 0 to 3"},
      {"number", 0, 1, "0 (compare as text) or 1 (as numbers)"},
      {"findtype", 0, 1, "0 (the first number) or 1 (the last)"},
      {"pre", 0, 32767, "0 (none) or an item number from 1"},
  };
  for (const Numeric& f : kNumbers) {
    long n = 0;
    if (field != f.field) continue;
    if (!Number(value, f.lo, f.hi, n)) {
      error = "'" + arg + "': " + field + " is " + f.meaning;
      return false;
    }
    if (field == "kind") item.byType = static_cast<uint8_t>(n);
    if (field == "compare") item.byCompareType = static_cast<uint8_t>(n);
    if (field == "split") item.nSplit = static_cast<int16_t>(n);
    if (field == "number") item.dwFindNumber = static_cast<int32_t>(n);
    if (field == "findtype") item.nFindType = static_cast<int16_t>(n);
    if (field == "pre") item.nPreItemId = static_cast<int16_t>(n);
    return true;
  }
  error = "'" + arg +
          "': no such FIELD (name, kind, element, attribute, compare, table, "
          "field, split, keyword, nokeyword, value, number, findtype, pre)";
  return false;
}

// The FIELD=VALUE form of an item, the fields of its kind only.
inline std::string FormatItem(const _tagITEMSEARCHINFO& item) {
  std::string out = "name=" + std::string(item.szName) +
                    " kind=" + std::to_string(item.byType);
  auto add = [&](const char* field, const std::string& value) {
    if (!value.empty()) out += std::string(" ") + field + "=" + value;
  };
  if (item.byType == 0) {
    add("element", item.szElement);
    add("attribute", item.szAttribute);
    add("compare", std::to_string(item.byCompareType));
  } else if (item.byType == 1) {
    add("table", item.szTable);
    add("field", item.szField);
  } else {
    add("split", std::to_string(item.nSplit));
    add("keyword", item.szKeyword);
    add("nokeyword", item.szNoKeyword);
  }
  add("value", item.szDefinedValue);
  if (item.dwFindNumber != 0) {
    add("number", std::to_string(item.dwFindNumber));
    add("findtype", std::to_string(item.nFindType));
  }
  if (item.nPreItemId != 0) add("pre", std::to_string(item.nPreItemId));
  return out;
}

}  // namespace quillmore_tools

#endif  // QUILLMORE_TOOLS_NOTATION_H_
