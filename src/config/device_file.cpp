#include "config/device_file.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/ascii.h"
#include "profile/profile_integer.h"

namespace quillmore {
namespace {

using SectionId = ProfileDocument::SectionId;

// Built by appending: GCC 12 at -O3 warns falsely on `"S" + to_string(n)`.
std::string Numbered(const char* stem, std::size_t n) {
  std::string s(stem);
  s += std::to_string(n);
  return s;
}

std::string Decimal(std::int64_t v) { return std::to_string(v); }

template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
  return FieldView(field);
}

// A text key read into a fixed field: cut to its size less one.
template <std::size_t N>
void ReadField(const ProfileDocument& f, SectionId s, std::string_view key,
               char (&field)[N]) {
  SetField(field, f.Find(s, key).value_or(""));
}

std::int32_t Int(const ProfileDocument& f, SectionId s, std::string_view key,
                 std::int32_t def = 0) {
  return f.FindInt(s, key).value_or(def);
}

// Name, type and length of one column definition, in `section`.
void ReadColumn(const ProfileDocument& f, SectionId s, std::size_t n,
                _tagUSERTABLEINFO& r) {
  ReadField(f, s, Numbered("ELEMENT", n), r.szElement);
  r.byFieldType =
      static_cast<std::uint8_t>(Int(f, s, Numbered("FIELDTYPE", n)));
  r.dwFieldLen = Int(f, s, Numbered("FIELDLEN", n));
}

void WriteColumn(ProfileDocument& f, const std::string& section, std::size_t n,
                 const _tagUSERTABLEINFO& r) {
  f.Set(section, Numbered("ELEMENT", n), FieldText(r.szElement));
  f.Set(section, Numbered("FIELDTYPE", n), Decimal(r.byFieldType));
  f.Set(section, Numbered("FIELDLEN", n), Decimal(r.dwFieldLen));
}

// j when `name` is `stem` followed by j in the writer's form (decimal, no
// leading zero) and 1 <= j <= count (at most 255); else 0.
std::uint32_t ChildNumber(std::string_view name, std::string_view stem,
                          std::uint32_t count) {
  if (name.size() <= stem.size() || name.size() > stem.size() + 3) return 0;
  for (std::size_t i = 0; i < stem.size(); ++i) {
    if (Fold(name[i]) != stem[i]) return 0;
  }
  if (name[stem.size()] == '0') return 0;
  std::uint32_t j = 0;
  for (char c : name.substr(stem.size())) {
    if (!IsDigit(c)) return 0;
    j = j * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return j <= count ? j : 0;
}

// The `count` children of a group from its section: the section's keys are
// visited once, so children it names no key for cost nothing and are not
// kept (they read as zero).
void ReadChildren(const ProfileDocument& f, SectionId section,
                  const _tagUSERTABLEINFO& group, UserTableList& list) {
  std::vector<std::pair<std::uint32_t, _tagUSERTABLEINFO>> found;
  if (section != ProfileDocument::kNoSection) {
    std::int16_t slot[256];
    std::fill(std::begin(slot), std::end(slot), std::int16_t{-1});
    f.ForEachKey(section, [&](std::string_view name, std::string_view value) {
      std::uint32_t j = 0;
      int field = 0;
      for (const char* stem : {"ELEMENT", "FIELDTYPE", "FIELDLEN"}) {
        j = ChildNumber(name, stem, group.dwChildLen);
        if (j != 0) break;
        ++field;
      }
      if (j == 0) return;
      if (slot[j] < 0) {
        slot[j] = static_cast<std::int16_t>(found.size());
        found.emplace_back(j - 1, _tagUSERTABLEINFO{});
      }
      _tagUSERTABLEINFO& c = found[static_cast<std::size_t>(slot[j])].second;
      if (field == 0) {
        SetField(c.szElement, value);
      } else if (field == 1) {
        c.byFieldType = static_cast<std::uint8_t>(ParseProfileInteger(value));
      } else {
        c.dwFieldLen = ParseProfileInteger(value);
      }
    });
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<_tagUSERTABLEINFO> children;
  std::vector<std::uint32_t> positions;
  children.reserve(found.size());
  positions.reserve(found.size());
  for (const auto& [position, child] : found) {
    positions.push_back(position);
    children.push_back(child);
  }
  list.AppendSparse(group, std::move(children), std::move(positions));
}

}  // namespace

std::string ReadText(const ProfileDocument& file, std::string_view section,
                     std::string_view key, std::size_t size) {
  if (size == 0) return {};
  return std::string(file.Find(section, key).value_or("").substr(0, size - 1));
}

std::int32_t ReadInt(const ProfileDocument& file, std::string_view section,
                     std::string_view key, std::int32_t def) {
  return file.FindInt(section, key).value_or(def);
}

std::size_t ReadCount(const ProfileDocument& file, std::string_view section) {
  const std::int32_t n = ReadInt(file, section, "LEN");
  return (n > 0 && n <= kMaxDefinitions) ? static_cast<std::size_t>(n) : 0;
}

UserTableList ReadUserTables(const ProfileDocument& file, std::size_t count) {
  UserTableList list;
  const SectionId table = file.FindSection("USERTABLE");
  for (std::size_t i = 1; i <= count; ++i) {
    _tagUSERTABLEINFO r{};
    r.dwChildLen =
        static_cast<std::uint8_t>(Int(file, table, Numbered("CHILDLEN", i)));
    if (r.dwChildLen == 0) {
      ReadColumn(file, table, i, r);
      list.Append(r, {});
    } else {
      ReadField(file, table, Numbered("ELEMENT", i), r.szElement);
      ReadChildren(file, file.FindSection(Numbered("ELEMENT", i)), r, list);
    }
  }
  return list;
}

void WriteUserTables(ProfileDocument& file, const _tagUSERTABLEINFO* records,
                     std::size_t count) {
  if (records == nullptr || count == 0) {
    file.Set("XML", "USEUSERTABLE", "0");
    file.Set("USERTABLE", "LEN", "0");
    return;
  }
  file.Set("XML", "USEUSERTABLE", "1");
  file.Set("USERTABLE", "LEN", Decimal(count));
  for (std::size_t i = 1; i <= count; ++i) {
    const _tagUSERTABLEINFO& r = records[i - 1];
    file.Set("USERTABLE", Numbered("CHILDLEN", i), Decimal(r.dwChildLen));
    if (r.dwChildLen == 0) {
      WriteColumn(file, "USERTABLE", i, r);
      continue;
    }
    file.Set("USERTABLE", Numbered("ELEMENT", i), FieldText(r.szElement));
    const std::string section = Numbered("ELEMENT", i);
    for (std::size_t j = 1; j <= r.dwChildLen; ++j) {
      WriteColumn(file, section, j, r.pChild[j - 1]);
    }
  }
}

_tagITEMSEARCHINFO ReadSearchItem(const ProfileDocument& file, std::size_t k) {
  _tagITEMSEARCHINFO r;
  std::memset(&r, 0, sizeof r);
  const std::string name = Numbered("S", k);
  ReadField(file, file.FindSection("ITEMSEARCH"), name, r.szName);
  const SectionId s = file.FindSection(name);
  // Without its section every field reads as zero (kind 0).
  if (s == ProfileDocument::kNoSection) return r;
  r.byType = static_cast<std::uint8_t>(Int(file, s, "TYPE"));
  if (r.byType == 0) {
    ReadField(file, s, "ELEMENT", r.szElement);
    ReadField(file, s, "ATTRIBUTE", r.szAttribute);
    r.byCompareType = static_cast<std::uint8_t>(Int(file, s, "COMPARETYPE"));
  } else if (r.byType == 1) {
    ReadField(file, s, "TABLE", r.szTable);
    ReadField(file, s, "FIELD", r.szField);
  } else {
    r.nSplit = static_cast<std::int16_t>(Int(file, s, "SPLIT", -1));
    ReadField(file, s, "KEYWORD", r.szKeyword);
    ReadField(file, s, "NOKEYWORD", r.szNoKeyword);
  }
  ReadField(file, s, "DEFINEDVALUE", r.szDefinedValue);
  r.nPreItemId = static_cast<std::int16_t>(Int(file, s, "PREITEMID"));
  r.dwFindNumber = Int(file, s, "FINDNUMBER");
  r.nFindType = static_cast<std::int16_t>(Int(file, s, "FINDTYPE"));
  return r;
}

void WriteSearchItem(ProfileDocument& file, std::size_t k,
                     const _tagITEMSEARCHINFO& item) {
  const std::string s = Numbered("S", k);
  file.Set("ITEMSEARCH", s, FieldText(item.szName));
  file.Set(s, "TYPE", Decimal(item.byType));
  if (item.byType == 0) {
    file.Set(s, "ELEMENT", FieldText(item.szElement));
    file.Set(s, "ATTRIBUTE", FieldText(item.szAttribute));
    file.Set(s, "COMPARETYPE", Decimal(item.byCompareType));
  } else if (item.byType == 1) {
    file.Set(s, "TABLE", FieldText(item.szTable));
    file.Set(s, "FIELD", FieldText(item.szField));
  } else {
    file.Set(s, "SPLIT", Decimal(item.nSplit));
    file.Set(s, "KEYWORD", FieldText(item.szKeyword));
    file.Set(s, "NOKEYWORD", FieldText(item.szNoKeyword));
  }
  file.Set(s, "DEFINEDVALUE", FieldText(item.szDefinedValue));
  file.Set(s, "PREITEMID", Decimal(item.nPreItemId));
  file.Set(s, "FINDNUMBER", Decimal(item.dwFindNumber));
  if (item.dwFindNumber != 0) {
    file.Set(s, "FINDTYPE", Decimal(item.nFindType));
  }
}

}  // namespace quillmore
