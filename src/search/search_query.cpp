#include "search/search_query.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <optional>

#include "search/item_chain.h"
#include "search/number_text.h"
#include "textsql/script_format.h"

namespace quillmore {
namespace {

constexpr int kAllCameras = 100;
constexpr int kJet = 1;

constexpr std::string_view kSelectCamera =
    "SELECT m.f_id as f_id, f_date, f_systime, f_savepath, f_savepos, f_cam, "
    "f_text FROM %s WHERE m.f_cam = %d and (m.f_date between '%s' and '%s') "
    "order by m.f_id";
constexpr std::string_view kSelectCameraWhere =
    "SELECT m.f_id as f_id, f_date, f_systime, f_savepath, f_savepos, f_cam, "
    "f_text FROM %s WHERE (%s) and m.f_cam = %d and (m.f_date between '%s' "
    "and '%s') order by m.f_id";
constexpr std::string_view kSelectAll =
    "SELECT m.f_id as f_id, f_date, f_systime, f_savepath, f_savepos, f_cam, "
    "f_text FROM %s WHERE (m.f_date between '%s' and '%s') order by "
    "m.f_cam,m.f_id";
// Two blanks before FROM: hosts compare statements as text.
constexpr std::string_view kSelectAllWhere =
    "SELECT m.f_id as f_id, f_date, f_systime, f_savepath, f_savepos, f_cam, "
    "f_text  FROM %s WHERE (%s) and (m.f_date between '%s' and '%s') order "
    "by m.f_cam,m.f_id";
constexpr std::size_t kLongestTemplate =
    std::max({kSelectCamera.size(), kSelectCameraWhere.size(),
              kSelectAll.size(), kSelectAllWhere.size()});

// Appends `form` with its "%s" and "%d" filled by `args`.
void Put(std::string& out, std::string_view form,
         std::initializer_list<std::string_view> args) {
  AppendExpanded(out, form, args, kNoLimit, Placeholders::kTextAndNumber);
}

// One comparison of a parameter's value.
struct Operand {
  std::string_view value;
  std::string_view op;
  bool numeric;
};

std::optional<Operand> OperandOf(std::string_view value, std::uint8_t code,
                                 bool find_number) {
  const std::string_view op = ComparisonOperator(code);
  if (value.empty() || op.empty()) return std::nullopt;
  return Operand{value, op, find_number && WholeNumber(value).has_value()};
}

// The comparisons a definition applies: its fixed value, or the
// parameter's values when `use_values` (last in its chain).
struct Comparisons {
  std::string_view defined;
  std::optional<Operand> first;
  std::optional<Operand> second;
  bool empty() const { return defined.empty() && !first && !second; }
};

Comparisons ComparisonsOf(const _tagITEMSEARCHINFO& item,
                          const _tagSEARCHPARAM& param, bool use_values) {
  Comparisons c;
  c.defined = FieldView(item.szDefinedValue);
  if (!c.defined.empty() || !use_values) return c;
  const bool find_number = item.dwFindNumber != 0;
  c.first = OperandOf(FieldView(param.szValue1), param.byCompare1, find_number);
  c.second =
      OperandOf(FieldView(param.szValue2), param.byCompare2, find_number);
  return c;
}

// Kind 0: an exist() test on the record's XML form.
void XmlClause(std::string& out, const _tagITEMSEARCHINFO& item,
               const Comparisons& c) {
  if (c.empty()) return;
  const std::string_view element = FieldView(item.szElement);
  const std::string_view attribute = FieldView(item.szAttribute);
  // The node is "@name", or "(text())" without an attribute.
  const std::string_view at = attribute.empty() ? "" : "@";
  const std::string_view node = attribute.empty() ? "(text())" : attribute;
  Put(out, "m.f_xml.exist('//*%s%s[", {element.empty() ? "" : "/", element});
  if (!c.defined.empty()) {
    Put(out, "%s%s = \"%s\"", {at, node, c.defined});
  } else {
    auto term = [&](const Operand& o) {
      Put(out, o.numeric ? "%s%s %s %s" : "%s%s %s \"%s\"",
          {at, node, o.op, o.value});
    };
    if (c.first) term(*c.first);
    if (c.first && c.second) out += " and ";
    if (c.second) term(*c.second);
  }
  out += "]') = 1";
}

// Kind 1: a condition on a user-table column.
void ColumnClause(std::string& out, const _tagITEMSEARCHINFO& item,
                  const Comparisons& c, int database_type) {
  const std::string_view table = FieldView(item.szTable);
  const std::string_view field = FieldView(item.szField);
  if (!c.defined.empty()) {
    Put(out, "%s.%s = '%s'", {table, field, c.defined});
    return;
  }
  // The form of a lone second value has no blank in "18,5".
  auto term = [&](const Operand& o, bool lone_second) {
    std::string_view form = "%s.%s %s '%s'";
    if (o.numeric && database_type == kJet) {
      form = "CDBL(%s.%s) %s %s";
    } else if (o.numeric) {
      form = lone_second ? "CAST(%s.%s as decimal(18,5)) %s %s"
                         : "CAST(%s.%s as decimal(18, 5)) %s %s";
    }
    Put(out, form, {table, field, o.op, o.value});
  };
  if (c.first) term(*c.first, false);
  if (c.first && c.second) out += " and ";
  if (c.second) term(*c.second, !c.first);
}

}  // namespace

std::string_view ComparisonOperator(std::uint8_t code) {
  static constexpr std::string_view kOperators[] = {"=", ">", ">=", "<", "<="};
  return code < std::size(kOperators) ? kOperators[code] : std::string_view();
}

void BuildSearchQuery(std::string& out, int camera, std::string_view from,
                      std::string_view to,
                      std::span<const _tagSEARCHPARAM> params, int join_mode,
                      std::span<const _tagITEMSEARCHINFO> items,
                      int database_type, std::string_view text_table) {
  // `out` holds the FROM part, then the conditions; joins are moved in
  // between as they come.
  out.clear();
  Put(out, "%s m", {text_table});
  std::size_t from_end = out.size();
  // Opens a clause, lets `write` append it, and closes it; takes it back
  // when `write` appended nothing. True when a clause was added.
  auto add = [&](auto write) {
    const std::size_t mark = out.size();
    if (mark != from_end) out += join_mode == 0 ? " and " : " or ";
    out += '(';
    const std::size_t clause = out.size();
    write();
    if (out.size() == clause) {
      out.resize(mark);
      return false;
    }
    out += ')';
    return true;
  };

  for (const _tagSEARCHPARAM& param : params) {
    if (param.nItemIndex < 0) {
      const std::string_view text = FieldView(param.szValue1);
      if (!text.empty()) {
        add([&] { Put(out, "m.f_text like '%%%s%%'", {text}); });
      }
      continue;
    }
    if (static_cast<std::size_t>(param.nItemIndex) >= items.size()) continue;
    const ItemChain chain =
        ChainOf(items, static_cast<std::size_t>(param.nItemIndex));
    for (std::size_t i = 0; i < chain.size; ++i) {
      const _tagITEMSEARCHINFO& item = *chain.items[i];
      const Comparisons c = ComparisonsOf(item, param, i + 1 == chain.size);
      if (item.byType == 0) {
        add([&] { XmlClause(out, item, c); });
      } else if (item.byType == 1 &&
                 add([&] { ColumnClause(out, item, c, database_type); })) {
        const std::string_view table = FieldView(item.szTable);
        if (std::string_view(out).substr(0, from_end).find(table) ==
            std::string_view::npos) {
          const std::size_t end = out.size();
          Put(out, " INNER JOIN %s ON m.f_id =  %s.f_id ", {table, table});
          std::rotate(out.begin() + static_cast<std::ptrdiff_t>(from_end),
                      out.begin() + static_cast<std::ptrdiff_t>(end),
                      out.end());
          from_end += out.size() - end;
        }
      }
    }
  }

  // The statement goes after the parts it is filled with, which then move
  // out of its way. The room is made first, so the parts stay in place
  // while they are read.
  const bool none = out.size() == from_end;
  char digits[12];
  const std::string_view cam(
      digits,
      static_cast<std::size_t>(
          std::to_chars(digits, digits + sizeof digits, camera).ptr - digits));
  const std::size_t parts = out.size();
  out.reserve(2 * parts + kLongestTemplate + cam.size() + from.size() +
              to.size());
  const std::string_view from_part(out.data(), from_end);
  const std::string_view conditions(out.data() + from_end, parts - from_end);
  if (camera != kAllCameras && none) {
    Put(out, kSelectCamera, {from_part, cam, from, to});
  } else if (camera != kAllCameras) {
    Put(out, kSelectCameraWhere, {from_part, conditions, cam, from, to});
  } else if (none) {
    Put(out, kSelectAll, {from_part, from, to});
  } else {
    Put(out, kSelectAllWhere, {from_part, conditions, from, to});
  }
  out.erase(0, parts);
}

}  // namespace quillmore
