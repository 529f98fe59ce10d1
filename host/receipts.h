// Generated till receipts for demos, tests and benchmarks: the same seed
// gives the same receipts on every machine.
//
// Two tills (cameras 1 and 2) from 2026-12-01, about 120 receipts a day
// between 08:00 and 20:00. Each receipt has a total, a cashier and one to
// five item lines; cashier and item names carry quotes, backslashes and
// non-ASCII letters. Every value fits the user-table columns of the sample
// till (Total 20, Cashier 30, Item name 40, price 10 bytes), so a server in
// strict mode takes them all. The text names no cashier or item with CARD,
// CASH or VOID in it, ends its numbers with the total, and says CARD or
// CASH, then VOID for about one receipt in twelve.
#ifndef QUILLMORE_HOST_RECEIPTS_H_
#define QUILLMORE_HOST_RECEIPTS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "records.h"

namespace qmhost {

struct Receipt {
  struct Item {
    std::string name;
    std::string price;  // "2.50"
  };
  Record record;  // record.xml holds the XML form below
  std::string total;
  std::string cashier;
  std::vector<Item> items;
  bool card = false;  // else cash
  bool voided = false;
};

class ReceiptGenerator {
 public:
  explicit ReceiptGenerator(uint64_t seed);
  Receipt Next();

 private:
  uint64_t Random();
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Random() % n); }

  uint64_t state_;
  long day_ = 0;            // days after 2026-12-01
  long second_ = 8 * 3600;  // of the day
  long number_ = 0;
  uint32_t savepos_[2] = {0, 0};
};

// <Receipt><Total>…</Total><Cashier>…</Cashier><Items><Item name="…"
// price="…"/>…</Items></Receipt>, with XML's escapes.
std::string ReceiptXml(const Receipt& receipt);

}  // namespace qmhost

#endif  // QUILLMORE_HOST_RECEIPTS_H_
