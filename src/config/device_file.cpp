#include "config/device_file.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace quillmore {
namespace {

// Built by appending: GCC 12 at -O3 warns falsely on `"S" + to_string(n)`.
std::string Numbered(const char* stem, std::size_t n) {
  std::string s(stem);
  s += std::to_string(n);
  return s;
}

std::string Decimal(std::int64_t v) { return std::to_string(v); }

template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(FieldView(field));
}

// Name, type and length of one column definition, in `section`.
void ReadColumn(Platform& p, const std::string& path,
                const std::string& section, std::size_t n,
                _tagUSERTABLEINFO& r) {
  SetField(r.szElement,
           p.ProfileString(path, section, Numbered("ELEMENT", n), "", 50));
  r.byFieldType = static_cast<std::uint8_t>(
      p.ProfileInt(path, section, Numbered("FIELDTYPE", n), 0));
  r.dwFieldLen = p.ProfileInt(path, section, Numbered("FIELDLEN", n), 0);
}

void WriteColumn(Platform& p, const std::string& path,
                 const std::string& section, std::size_t n,
                 const _tagUSERTABLEINFO& r) {
  p.WriteProfileString(path, section, Numbered("ELEMENT", n),
                       FieldText(r.szElement));
  p.WriteProfileString(path, section, Numbered("FIELDTYPE", n),
                       Decimal(r.byFieldType));
  p.WriteProfileString(path, section, Numbered("FIELDLEN", n),
                       Decimal(r.dwFieldLen));
}

}  // namespace

std::size_t ReadCount(Platform& p, const std::string& path,
                      const char* section) {
  std::int32_t n = p.ProfileInt(path, section, "LEN", 0);
  return (n > 0 && n <= kMaxDefinitions) ? static_cast<std::size_t>(n) : 0;
}

UserTableList ReadUserTables(Platform& p, const std::string& path,
                             std::size_t count) {
  UserTableList list;
  for (std::size_t i = 1; i <= count; ++i) {
    _tagUSERTABLEINFO r{};
    r.dwChildLen = static_cast<std::uint8_t>(
        p.ProfileInt(path, "USERTABLE", Numbered("CHILDLEN", i), 0));
    std::vector<_tagUSERTABLEINFO> children;
    if (r.dwChildLen == 0) {
      ReadColumn(p, path, "USERTABLE", i, r);
    } else {
      SetField(r.szElement, p.ProfileString(path, "USERTABLE",
                                            Numbered("ELEMENT", i), "", 50));
      const std::string section = Numbered("ELEMENT", i);
      children.resize(r.dwChildLen);
      for (std::size_t j = 1; j <= r.dwChildLen; ++j) {
        ReadColumn(p, path, section, j, children[j - 1]);
      }
    }
    list.Append(r, std::move(children));
  }
  return list;
}

void WriteUserTables(Platform& p, const std::string& path,
                     const _tagUSERTABLEINFO* records, std::size_t count) {
  if (records == nullptr || count == 0) {
    p.WriteProfileString(path, "XML", "USEUSERTABLE", "0");
    p.WriteProfileString(path, "USERTABLE", "LEN", "0");
    return;
  }
  p.WriteProfileString(path, "XML", "USEUSERTABLE", "1");
  p.WriteProfileString(path, "USERTABLE", "LEN", Decimal(count));
  for (std::size_t i = 1; i <= count; ++i) {
    const _tagUSERTABLEINFO& r = records[i - 1];
    p.WriteProfileString(path, "USERTABLE", Numbered("CHILDLEN", i),
                         Decimal(r.dwChildLen));
    if (r.dwChildLen == 0) {
      WriteColumn(p, path, "USERTABLE", i, r);
      continue;
    }
    p.WriteProfileString(path, "USERTABLE", Numbered("ELEMENT", i),
                         FieldText(r.szElement));
    const std::string section = Numbered("ELEMENT", i);
    for (std::size_t j = 1; j <= r.dwChildLen; ++j) {
      WriteColumn(p, path, section, j, r.pChild[j - 1]);
    }
  }
}

_tagITEMSEARCHINFO ReadSearchItem(Platform& p, const std::string& path, int k) {
  _tagITEMSEARCHINFO r;
  std::memset(&r, 0, sizeof r);
  const std::string s = Numbered("S", static_cast<std::size_t>(k));
  SetField(r.szName, p.ProfileString(path, "ITEMSEARCH", s, "", 50));
  r.byType = static_cast<std::uint8_t>(p.ProfileInt(path, s, "TYPE", 0));
  if (r.byType == 0) {
    SetField(r.szElement, p.ProfileString(path, s, "ELEMENT", "", 50));
    SetField(r.szAttribute, p.ProfileString(path, s, "ATTRIBUTE", "", 50));
    r.byCompareType =
        static_cast<std::uint8_t>(p.ProfileInt(path, s, "COMPARETYPE", 0));
  } else if (r.byType == 1) {
    SetField(r.szTable, p.ProfileString(path, s, "TABLE", "", 60));
    SetField(r.szField, p.ProfileString(path, s, "FIELD", "", 60));
  } else {
    r.nSplit = static_cast<std::int16_t>(p.ProfileInt(path, s, "SPLIT", -1));
    SetField(r.szKeyword, p.ProfileString(path, s, "KEYWORD", "", 50));
    SetField(r.szNoKeyword, p.ProfileString(path, s, "NOKEYWORD", "", 50));
  }
  SetField(r.szDefinedValue, p.ProfileString(path, s, "DEFINEDVALUE", "", 50));
  r.nPreItemId =
      static_cast<std::int16_t>(p.ProfileInt(path, s, "PREITEMID", 0));
  r.dwFindNumber = p.ProfileInt(path, s, "FINDNUMBER", 0);
  r.nFindType = static_cast<std::int16_t>(p.ProfileInt(path, s, "FINDTYPE", 0));
  return r;
}

void WriteSearchItem(Platform& p, const std::string& path, int k,
                     const _tagITEMSEARCHINFO& item) {
  const std::string s = Numbered("S", static_cast<std::size_t>(k));
  p.WriteProfileString(path, "ITEMSEARCH", s, FieldText(item.szName));
  p.WriteProfileString(path, s, "TYPE", Decimal(item.byType));
  if (item.byType == 0) {
    p.WriteProfileString(path, s, "ELEMENT", FieldText(item.szElement));
    p.WriteProfileString(path, s, "ATTRIBUTE", FieldText(item.szAttribute));
    p.WriteProfileString(path, s, "COMPARETYPE", Decimal(item.byCompareType));
  } else if (item.byType == 1) {
    p.WriteProfileString(path, s, "TABLE", FieldText(item.szTable));
    p.WriteProfileString(path, s, "FIELD", FieldText(item.szField));
  } else {
    p.WriteProfileString(path, s, "SPLIT", Decimal(item.nSplit));
    p.WriteProfileString(path, s, "KEYWORD", FieldText(item.szKeyword));
    p.WriteProfileString(path, s, "NOKEYWORD", FieldText(item.szNoKeyword));
  }
  p.WriteProfileString(path, s, "DEFINEDVALUE", FieldText(item.szDefinedValue));
  p.WriteProfileString(path, s, "PREITEMID", Decimal(item.nPreItemId));
  p.WriteProfileString(path, s, "FINDNUMBER", Decimal(item.dwFindNumber));
  if (item.dwFindNumber != 0) {
    p.WriteProfileString(path, s, "FINDTYPE", Decimal(item.nFindType));
  }
}

}  // namespace quillmore
