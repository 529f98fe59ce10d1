#include "search/search_query.h"

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

std::string Fill(std::string_view form,
                 std::initializer_list<std::string_view> args) {
  return ExpandScript(form, args, kNoLimit, Placeholders::kTextAndNumber);
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
std::string XmlClause(const _tagITEMSEARCHINFO& item, const Comparisons& c) {
  const std::string_view element = FieldView(item.szElement);
  const std::string_view attribute = FieldView(item.szAttribute);
  const std::string node =
      attribute.empty() ? std::string("(text())") : Fill("@%s", {attribute});
  std::string condition;
  if (!c.defined.empty()) {
    condition = Fill("%s = \"%s\"", {node, c.defined});
  } else {
    auto term = [&](const Operand& o) {
      return Fill(o.numeric ? "%s %s %s" : "%s %s \"%s\"",
                  {node, o.op, o.value});
    };
    if (c.first) condition = term(*c.first);
    if (c.second) condition += (c.first ? " and " : "") + term(*c.second);
  }
  if (condition.empty()) return {};
  const std::string path =
      element.empty() ? std::string() : Fill("/%s", {element});
  return Fill("m.f_xml.exist('//*%s[%s]') = 1", {path, condition});
}

// Kind 1: a condition on a user-table column.
std::string ColumnClause(const _tagITEMSEARCHINFO& item, const Comparisons& c,
                         int database_type) {
  const std::string_view table = FieldView(item.szTable);
  const std::string_view field = FieldView(item.szField);
  if (!c.defined.empty()) {
    return Fill("%s.%s = '%s'", {table, field, c.defined});
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
    return Fill(form, {table, field, o.op, o.value});
  };
  std::string condition;
  if (c.first) condition = term(*c.first, false);
  if (c.second) {
    condition +=
        c.first ? " and " + term(*c.second, false) : term(*c.second, true);
  }
  return condition;
}

}  // namespace

std::string_view ComparisonOperator(std::uint8_t code) {
  static constexpr std::string_view kOperators[] = {"=", ">", ">=", "<", "<="};
  return code < std::size(kOperators) ? kOperators[code] : std::string_view();
}

std::string BuildSearchQuery(int camera, std::string_view from,
                             std::string_view to,
                             std::span<const _tagSEARCHPARAM> params,
                             int join_mode,
                             std::span<const _tagITEMSEARCHINFO> items,
                             int database_type, std::string_view text_table) {
  std::string from_part = Fill("%s m", {text_table});
  std::string conditions;
  auto add = [&](const std::string& clause) {
    if (clause.empty()) return;
    if (!conditions.empty()) conditions += join_mode == 0 ? " and " : " or ";
    conditions += "(" + clause + ")";
  };

  for (const _tagSEARCHPARAM& param : params) {
    if (param.nItemIndex < 0) {
      const std::string_view text = FieldView(param.szValue1);
      if (!text.empty()) add(Fill("m.f_text like '%%%s%%'", {text}));
      continue;
    }
    if (static_cast<std::size_t>(param.nItemIndex) >= items.size()) continue;
    const ItemChain chain =
        ChainOf(items, static_cast<std::size_t>(param.nItemIndex));
    for (std::size_t i = 0; i < chain.size; ++i) {
      const _tagITEMSEARCHINFO& item = *chain.items[i];
      const Comparisons c = ComparisonsOf(item, param, i + 1 == chain.size);
      if (item.byType == 0) {
        add(XmlClause(item, c));
      } else if (item.byType == 1) {
        const std::string clause = ColumnClause(item, c, database_type);
        if (clause.empty()) continue;
        add(clause);
        const std::string_view table = FieldView(item.szTable);
        if (from_part.find(table) == std::string::npos) {
          from_part +=
              Fill(" INNER JOIN %s ON m.f_id =  %s.f_id ", {table, table});
        }
      }
    }
  }

  const std::string cam = std::to_string(camera);
  if (camera != kAllCameras) {
    return conditions.empty() ? Fill(kSelectCamera, {from_part, cam, from, to})
                              : Fill(kSelectCameraWhere,
                                     {from_part, conditions, cam, from, to});
  }
  return conditions.empty()
             ? Fill(kSelectAll, {from_part, from, to})
             : Fill(kSelectAllWhere, {from_part, conditions, from, to});
}

}  // namespace quillmore
