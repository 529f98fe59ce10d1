#include "config/identifier.h"

#include <cstdint>

#include "base/ascii.h"
#include "config/record_fields.h"

namespace quillmore {

bool IsPlainIdentifier(std::string_view name) {
  if (name.empty() || IsDigit(name.front())) return false;
  for (char c : name) {
    const char u = Fold(c);
    if (!(u == '_' || IsDigit(u) || (u >= 'A' && u <= 'Z'))) return false;
  }
  return true;
}

bool UserTableNamesArePlain(const _tagUSERTABLEINFO* records,
                            std::size_t count) {
  const auto plain = [](const _tagUSERTABLEINFO& r) {
    return IsPlainIdentifier(StoredView(r.szElement));
  };
  for (std::size_t i = 0; i < count; ++i) {
    const _tagUSERTABLEINFO& r = records[i];
    if (!plain(r)) return false;
    // Stored children have no children of their own: those aren't read.
    for (std::uint32_t j = 0; j < r.dwChildLen && r.pChild != nullptr; ++j) {
      if (!plain(r.pChild[j])) return false;
    }
  }
  return true;
}

bool SearchNamesArePlain(const _tagITEMSEARCHINFO& item) {
  const auto plain_or_empty = [](std::string_view name) {
    return name.empty() || IsPlainIdentifier(name);
  };
  switch (item.byType) {
    case 0:
      return plain_or_empty(FieldView(item.szElement)) &&
             plain_or_empty(FieldView(item.szAttribute));
    case 1:
      return IsPlainIdentifier(FieldView(item.szTable)) &&
             IsPlainIdentifier(FieldView(item.szField));
    default:
      return true;
  }
}

}  // namespace quillmore
