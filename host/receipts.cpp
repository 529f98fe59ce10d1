#include "receipts.h"

#include <cstdio>

namespace qmhost {
namespace {

// Within 30 bytes each; quotes, backslashes and UTF-8 on purpose.
const char* const kCashiers[] = {
    "Ann",
    "Bob",
    "O'Neil",
    "D'Arcy Smith",
    "Zoë Ångström",
    "Jürgen Weiß",
    "Łukasz",
    "SHOP\\bea",
    "Renée \"Ree\" Dubois",
    "Siobhán O'Brien",
    "C:\\Tills\\Max",
};
// Within 40 bytes each.
const char* const kItems[] = {
    "Tea",
    "Coffee",
    "Croissant",
    "Crème brûlée",
    "Käse & Brot",
    "Fish 'n' chips",
    "Pain au chocolat",
    "Smørrebrød",
    "Back\\slash bagel",
    "\"Quoted\" cake",
    "Çay",
    "Apple pie",
    "Water <still>",
    "Gâteau l'Opéra",
    "Zürcher Geschnetzeltes",
};

std::string Cents(long cents) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld.%02ld", cents / 100, cents % 100);
  return buf;
}

// Howard Hinnant's civil-from-days, for days after 1970-01-01.
void CivilFromDays(long z, int& y, unsigned& m, unsigned& d) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

void AppendXmlEscaped(std::string& out, const std::string& s) {
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
}

constexpr long kFirstDay = 20788;  // 2026-12-01

}  // namespace

ReceiptGenerator::ReceiptGenerator(uint64_t seed) : state_(seed) {}

// splitmix64: the same sequence everywhere.
uint64_t ReceiptGenerator::Random() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

Receipt ReceiptGenerator::Next() {
  second_ += 60 + Below(661);
  if (second_ >= 20 * 3600) {
    ++day_;
    second_ = 8 * 3600 + Below(600);
  }
  ++number_;
  Receipt r;
  const int till = 1 + static_cast<int>(Below(2));
  r.cashier = kCashiers[Below(sizeof kCashiers / sizeof *kCashiers)];
  long total = 0;
  const uint32_t lines = 1 + Below(5);
  for (uint32_t i = 0; i < lines; ++i) {
    const long cents = 50 + 5 * static_cast<long>(Below(390));
    total += cents;
    r.items.push_back(
        {kItems[Below(sizeof kItems / sizeof *kItems)], Cents(cents)});
  }
  r.total = Cents(total);
  r.card = Below(3) != 0;
  r.voided = Below(12) == 0;

  int y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(kFirstDay + day_, y, m, d);
  char date[96], systime[64], path[96];
  std::snprintf(date, sizeof date, "%04d-%02u-%02u %02ld:%02ld:%02ld", y, m, d,
                second_ / 3600, second_ / 60 % 60, second_ % 60);
  std::snprintf(systime, sizeof systime, "%02ld:%02ld:%02ld.%03u",
                second_ / 3600, second_ / 60 % 60, second_ % 60, Below(1000));
  std::snprintf(path, sizeof path, "/rec/cam%d/%04d%02u%02u.avi", till, y, m,
                d);

  std::string text = "TILL " + std::to_string(till) + "  RECEIPT " +
                     std::to_string(number_) + "\nCLERK " + r.cashier + "\n";
  for (const Receipt::Item& item : r.items) {
    text += item.name + "  " + item.price + "\n";
  }
  text += "TOTAL " + r.total + "\n" + (r.card ? "CARD" : "CASH");
  if (r.voided) text += "\nVOID";

  r.record.date = date;
  r.record.systime = systime;
  r.record.camera = till;
  r.record.text = text;
  r.record.savepath = path;
  r.record.savepos = savepos_[till - 1];
  savepos_[till - 1] += 4096 + 512 * Below(64);
  r.record.xml = ReceiptXml(r);
  return r;
}

std::string ReceiptXml(const Receipt& r) {
  std::string xml = "<Receipt><Total>";
  AppendXmlEscaped(xml, r.total);
  xml += "</Total><Cashier>";
  AppendXmlEscaped(xml, r.cashier);
  xml += "</Cashier><Items>";
  for (const Receipt::Item& item : r.items) {
    xml += "<Item name=\"";
    AppendXmlEscaped(xml, item.name);
    xml += "\" price=\"";
    AppendXmlEscaped(xml, item.price);
    xml += "\"/>";
  }
  return xml + "</Items></Receipt>";
}

}  // namespace qmhost
