// The whole road of one device through quillmore and quillmore-host, in a
// fresh folder with its own DV installation, checked against what the
// generated records imply: values back byte for byte, browse rows through
// the joins, each search's ids at both stages, prune by number and by date
// in every table, drop. On SQLite (a type-2 device) by default; with
// --server on a MariaDB or MySQL server through ODBC (a type-4 device).
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine.h"
#include "receipts.h"

namespace qmhost {
namespace {

int g_failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  if (!ok) ++g_failures;
}

struct Result {
  int status = -1;
  std::string out;
};

// Runs a program with its standard output captured.
Result Capture(const std::vector<std::string>& args) {
  std::string command;
  for (const std::string& a : args) {
    command += " '";
    for (char c : a)
      command += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += "'";
  }
  Result r;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return r;
  char buf[65536];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  const int status = pclose(p);
  if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
  return r;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out(1);
  for (char c : s)
    c == sep ? (void)out.emplace_back() : out.back().push_back(c);
  return out;
}

// quillmore-host's --tsv output; the first line names the columns.
std::vector<std::map<std::string, std::string>> Tsv(const std::string& out) {
  std::vector<std::map<std::string, std::string>> rows;
  std::vector<std::string> header;
  for (const std::string& line : Split(out, '\n')) {
    if (line.empty()) continue;
    std::vector<std::string> fields = Split(line, '\t');
    for (std::string& f : fields) {
      std::string v;
      for (size_t i = 0; i < f.size(); ++i) {
        const char e = f[i] == '\\' && i + 1 < f.size() ? f[++i] : 0;
        v += e == 0     ? f[i]
             : e == 't' ? '\t'
             : e == 'n' ? '\n'
             : e == 'r' ? '\r'
                        : e;
      }
      f = v;
    }
    if (header.empty()) {
      header = fields;
      continue;
    }
    std::map<std::string, std::string>& row = rows.emplace_back();
    // A joined table repeats f_id; the first one is the text table's.
    for (size_t i = 0; i < fields.size() && i < header.size(); ++i)
      row.emplace(header[i], fields[i]);
  }
  return rows;
}

struct Stored {
  Receipt r;
  int id;
  bool has_xml;
  bool main_row;  // its main user-table row was stored
};

struct Road {
  std::string dir_;
  std::vector<std::string> engine_;

  Result Host(std::vector<std::string> args) {
    args.insert(args.begin(), dir_ + "/quillmore-host");
    args.insert(args.end(), engine_.begin(), engine_.end());
    return Capture(args);
  }
  Result Cli(std::vector<std::string> args) {
    args.insert(args.begin(), dir_ + "/quillmore");
    return Capture(args);
  }
  // The ids of each stage of a search.
  std::pair<std::set<int>, std::set<int>> Search(
      const std::string& camera, const std::string& from, const std::string& to,
      std::vector<std::string> terms) {
    std::vector<std::string> args = {"search", "7",     camera,   from,
                                     to,       "--ids", "--quiet"};
    args.insert(args.end(), terms.begin(), terms.end());
    const Result r = Host(args);
    std::pair<std::set<int>, std::set<int>> ids;
    for (const std::string& line : Split(r.out, '\n')) {
      std::set<int>* target = line.rfind("sql:", 0) == 0      ? &ids.first
                              : line.rfind("passed:", 0) == 0 ? &ids.second
                                                              : nullptr;
      std::istringstream in(line.substr(line.find(':') + 1));
      for (int id; target != nullptr && in >> id;) target->insert(id);
    }
    if (r.status != 0) ids.first.insert(-r.status);
    return ids;
  }
  // Rows per table, in the order text table, main user table, group table,
  // then other tables; user-table rows without a text record summed.
  std::vector<std::string> Stats(long& orphans) {
    std::vector<std::string> counts;
    orphans = 0;
    for (const std::string& line :
         Split(Host({"stats", "7", "--tsv"}).out, '\n')) {
      const std::vector<std::string> f = Split(line, '\t');
      if (f.size() < 3 || f[0] == "table" || f[0].rfind("(records", 0) == 0)
        continue;
      counts.push_back(f[1]);
      if (!f[2].empty() && f[2] != "-") orphans += std::stol(f[2]);
    }
    return counts;
  }
};

Receipt Extra(const std::string& date, int camera, const std::string& text,
              const std::string& cashier, std::vector<Receipt::Item> items,
              bool xml) {
  Receipt r{{date, "12:00:00.000", camera, text, std::nullopt, "C:\\rec\\it's",
             4294967295u},
            "9.99",
            cashier,
            std::move(items),
            true,
            false};
  if (xml) r.record.xml = ReceiptXml(r);
  return r;
}

// The ids of the generated records that `keep` takes.
std::set<int> Generated(const std::vector<Stored>& all, const auto& keep) {
  std::set<int> ids;
  for (const Stored& s : all) {
    if (&s - all.data() < 240 && keep(s)) ids.insert(s.id);
  }
  return ids;
}

int RunRoad(int argc, char** argv) {
  std::map<std::string, std::string> opt;
  for (int i = 1; i + 1 < argc; i += 2) opt[argv[i]] = argv[i + 1];
  const bool odbc = opt.count("--server") != 0;
  char tmpl[] = "/tmp/quillmore-road-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 2;
  const std::string dir = tmpl;
  namespace fs = std::filesystem;
  fs::create_directory(dir + "/DV");
  fs::copy_file(opt["--host"], dir + "/quillmore-host");
  fs::copy_file(opt["--cli"], dir + "/quillmore");
  for (const fs::directory_entry& e : fs::directory_iterator(opt["--dv"])) {
    if (e.path().extension() == ".sql")
      fs::copy_file(e.path(), fs::path(dir) / "DV" / e.path().filename());
  }
  std::ofstream(dir + "/DV/devdata7.ini")
      << "[GENERAL]\nDATABASE=1\nDBTYPE=" << (odbc ? 4 : 2)
      << "\nDBSERVER=" << (odbc ? opt["--server"] : "localhost")
      << "\nDBNAME=" << (odbc ? opt["--dbname"] : "road")
      << "\nUSER=" << opt["--user"] << "\nPWD=" << opt["--password"]
      << "\n[XML]\nUSEPARSER=0\n";
  std::vector<std::string> engine = {"--db", dir + "/road.sqlite"};
  if (odbc) engine = {"--odbc", "--odbc-extra", opt["--odbc-extra"]};
  Road road{dir, engine};

  // Definitions through the CLI; the kind-1 items name tables that carry
  // this machine's volume serial.
  Check(road.Cli({"set-user-tables", "7",
                  "Total:20 Cashier:30 Item[name:40,price:10]"})
                .status == 0,
        "quillmore stores the user tables from the compact notation");
  const std::vector<std::string> tables =
      Split(road.Cli({"names", "7"}).out, '\n');
  Check(tables.size() >= 2 && tables[0].rfind("TBL_USER7_", 0) == 0 &&
            tables[1].rfind("USR_ITEM7_", 0) == 0,
        "quillmore names the main and the group table");
  if (tables.size() < 2) return 1;
  const std::vector<std::vector<std::string>> items = {
      {"name=Card payment", "kind=keyword", "keyword=CARD", "nokeyword=VOID"},
      {"name=Amount", "kind=keyword", "number=1", "findtype=1"},
      {"name=Cashier", "kind=field", "table=" + tables[0], "field=f_cashier"},
      {"name=Total", "kind=field", "table=" + tables[0], "field=f_total",
       "number=1"},
      {"name=Item", "kind=field", "table=" + tables[1], "field=f_name"},
      {"name=XML total", "kind=xml", "element=Total", "number=1"}};
  bool added = true;
  for (std::vector<std::string> item : items) {
    item.insert(item.begin(), {"add-item", "7"});
    added = road.Cli(item).status == 0 && added;
  }
  Check(added, "quillmore adds six search items");

  // The records: generated receipts, then hostile ones.
  ReceiptGenerator gen(11);
  std::vector<Stored> all;
  std::string jsonl;
  for (int i = 1; i <= 240; ++i) all.push_back({gen.Next(), i, true, true});
  for (const Stored& s : all) jsonl += ToJsonLine(s.r.record) + "\n";
  Check(road.Host({"generate", "240", "--seed", "11"}).out == jsonl,
        "generate writes the same receipts");
  const std::string tall = "Bartholomew Maximilian O'Connor Jr";  // 34 bytes
  all.push_back(
      {Extra("2027-01-10 10:00:00", 1,
             "it's a \\'quote\\' \\\\ 100% _x_ Zoë\t\"dq\"\nline two",
             "Zoë \\ O'Hara \"Q\"",
             {{"Tart & <cream>", "3.50"}, {"Back\\slash bagel", "1.00"}}, true),
       241, true, true});
  all.push_back({Extra("2027-01-10 11:00:00", 2, "NO XML HERE", "", {}, false),
                 242, false, false});
  // A server in strict mode refuses the cashier longer than its column, so
  // there the record is not stored at all.
  const Receipt tall_clerk = Extra("2027-01-10 12:00:00", 1, "TALL CLERK", tall,
                                   {{"Tea", "2.00"}}, true);
  if (!odbc) all.push_back({tall_clerk, 243, true, true});
  for (size_t i = 240; i < all.size(); ++i)
    jsonl += ToJsonLine(all[i].r.record) + "\n";
  if (odbc) jsonl += ToJsonLine(tall_clerk.record) + "\n";
  // A line that is no record is reported and skipped.
  std::ofstream(dir + "/records.jsonl", std::ios::binary)
      << jsonl << "{\"date\":\"x\",\"camera\":\"one\"}\n";

  Check(road.Host({"init", "7"}).status == 0, "init creates the tables");
  const std::string f0 = "2026-01-01", t0 = "2027-12-31";
  const Result ingest = road.Host({"ingest", "7", dir + "/records.jsonl"});
  Check(ingest.out.find("stored " + std::to_string(all.size()) + " records") !=
            std::string::npos,
        "ingest stores every record the engine takes");
  Check(ingest.status == 1 &&
            ingest.out.find(
                std::string("records not stored: ") + (odbc ? "1" : "0") +
                "; lines that are no record: 1") != std::string::npos,
        "ingest counts the record the engine refuses, whole, and the line "
        "that is no record, and goes on");
  // What can't run says so.
  Check(road.Host({}).status == 2 &&
            road.Host({"browse", "7", "a"}).status == 2 &&
            road.Host({"search", "7", "1", f0, t0, "9=1"}).status == 2 &&
            road.Host({"init", "99"}).status == 3,
        "bad arguments exit 2, a device without a database 3");

  const std::string from = "2026-01-01 00:00:00", to = "2027-12-31 23:59:59";
  // Every text-table value, through a search without terms.
  std::map<int, std::map<std::string, std::string>> text_rows;
  std::map<std::string, int> id_of_date;  // the dates are unique
  for (auto& row :
       Tsv(road.Host({"search", "7", "100", from, to, "--tsv", "--quiet"})
               .out)) {
    text_rows[std::stoi(row["f_id"])] = row;
    id_of_date[row["f_date"]] = std::stoi(row["f_id"]);
  }
  // Ids the engine gave: a batch run again, or a record refused, leaves
  // gaps.
  std::map<int, const Stored*> by_id;
  for (Stored& s : all) by_id[s.id = id_of_date[s.r.record.date]] = &s;
  bool same = text_rows.size() == all.size() && by_id.size() == all.size();
  for (const Stored& s : all) {
    auto& row = text_rows[s.id];
    const Record& r = s.r.record;
    same = same && row["f_date"] == r.date && row["f_systime"] == r.systime &&
           row["f_text"] == r.text &&
           row["f_cam"] == std::to_string(r.camera) &&
           row["f_savepath"] == r.savepath &&
           // The library writes the position as a signed number.
           row["f_savepos"] == std::to_string(static_cast<int32_t>(r.savepos));
  }
  Check(same, "every text-table value comes back byte for byte");

  // Browse: one row per item, with the record's XML and user-table values.
  auto browse =
      Tsv(road.Host({"browse", "7", from, to, "--tsv", "--quiet"}).out);
  std::map<int, std::multiset<std::pair<std::string, std::string>>> got_items;
  bool values = true;
  std::set<int> left_out;
  for (auto& row : browse) {
    const Stored& s = *by_id.at(std::stoi(row["f_id"]));
    if (!s.main_row) {
      left_out.insert(s.id);
      continue;
    }
    values = values && row["f_xml"] == s.r.record.xml &&
             row["f_total"] == s.r.total && row["f_cashier"] == s.r.cashier;
    got_items[s.id].insert({row["f_name"], row["f_price"]});
  }
  size_t expected_rows = 0;
  std::set<int> no_rows;
  for (const Stored& s : all) {
    if (!s.main_row) {
      ++expected_rows;
      no_rows.insert(s.id);
      continue;
    }
    expected_rows += s.r.items.size();
    std::multiset<std::pair<std::string, std::string>> want;
    for (const auto& item : s.r.items) want.insert({item.name, item.price});
    values = values && got_items[s.id] == want;
  }
  Check(values,
        "XML and user-table values come back byte for byte (quotes, "
        "backslashes, UTF-8)");
  Check(browse.size() == expected_rows && left_out == no_rows,
        "browse gives one row per item through the joins, and the records "
        "the joins leave out");
  const std::string day = all[100].r.record.date.substr(0, 10);
  size_t day_rows = 0;
  for (const Stored& s : all) {
    if (s.main_row && s.r.record.date.compare(0, 10, day) == 0)
      day_rows += s.r.items.size();
  }
  Check(Tsv(road.Host({"browse", "7", day + " 00:00:00", day + " 23:59:59",
                       "--tsv", "--quiet"})
                .out)
                .size() == day_rows,
        "browse of " + day + " counts that day's item rows");

  // Searches over the generated days: SQL, then the keyword items.
  const std::string f = "2026-12-01 00:00:00", t = "2026-12-31 23:59:59";
  auto both = [](std::set<int> ids) { return std::make_pair(ids, ids); };
  const auto oneil = Generated(all, [&](const Stored& s) {
    return s.r.record.camera == 1 && s.r.cashier == "O'Neil";
  });
  Check(!oneil.empty() && road.Search("1", f, t, {"2=O'Neil"}) == both(oneil),
        "cashier O'Neil on till 1");
  const auto range = Generated(all, [](const Stored& s) {
    return std::stod(s.r.total) >= 20 && std::stod(s.r.total) <= 40;
  });
  Check(!range.empty() &&
            road.Search("100", f, t, {"3>=20", "3<=40"}) == both(range),
        "total from 20 to 40 as numbers");
  const auto ann =
      Generated(all, [&](const Stored& s) { return s.r.cashier == "Ann"; });
  const auto ann_card = Generated(all, [&](const Stored& s) {
    return s.r.cashier == "Ann" && s.r.card && !s.r.voided;
  });
  Check(ann_card.size() < ann.size() &&
            road.Search("100", f, t, {"2=Ann", "0="}) ==
                std::make_pair(ann, ann_card),
        "Ann's receipts by SQL, her card payments by the matcher");
  Check(road.Search("100", f, t, {"2=Ann", "0=", "--or"}) ==
            std::make_pair(ann, Generated(all,
                                          [&](const Stored& s) {
                                            return s.r.cashier == "Ann" ||
                                                   (s.r.card && !s.r.voided);
                                          })),
        "Ann's receipts or card payments, with OR: the SQL's and the "
        "matcher's together");
  Check(road.Search("100", f, t, {"4=Crème brûlée"}) ==
            both(Generated(all,
                           [&](const Stored& s) {
                             return std::any_of(
                                 s.r.items.begin(), s.r.items.end(),
                                 [](const Receipt::Item& i) {
                                   return i.name == "Crème brûlée";
                                 });
                           })),
        "an item name through the group table, each record once");
  const auto till2 =
      Generated(all, [&](const Stored& s) { return s.r.record.camera == 2; });
  const auto till2_30 = Generated(all, [&](const Stored& s) {
    return s.r.record.camera == 2 && std::stod(s.r.total) >= 30;
  });
  Check(till2_30.size() < till2.size() && road.Search("2", f, t, {"1>=30"}) ==
                                              std::make_pair(till2, till2_30),
        "till 2 by SQL, totals of 30 or more in the text by the matcher");
  Check(road.Search("100", f, t, {"2=Ann", "3>=90", "--or"}) ==
            both(Generated(all,
                           [&](const Stored& s) {
                             return (s.r.cashier == "Ann" ||
                                     std::stod(s.r.total) >= 90);
                           })),
        "Ann or a total of 90 or more, joined with OR");
  Check(road.Search("1", "2027-01-10 00:00:00", to,
                    {"text=it's a \\'quote\\'"}) == both({all[240].id}) &&
            road.Search("1", "2027-01-10 00:00:00", to,
                        {"2=Zoë \\ O'Hara \"Q\""}) == both({all[240].id}),
        "quotes and backslashes in search values");
  Check(road.Host({"search", "7", "100", f, t, "5>=10", "--quiet"}).status == 3,
        "an XML item's exist() clause is reported as not runnable here");

  // Prune by number, then by date: no user-table row outlives its record.
  long orphans = 0;
  auto counts = [&](const auto& keep) {
    long text = 0, main = 0, group = 0;
    for (const Stored& s : all) {
      if (!keep(s)) continue;
      ++text;
      main += s.main_row;
      group += s.has_xml ? static_cast<long>(s.r.items.size()) : 0;
    }
    return std::vector<std::string>{std::to_string(text), std::to_string(main),
                                    std::to_string(group), "0"};
  };
  Check(road.Stats(orphans) == counts([](const Stored&) { return true; }) &&
            orphans == 0,
        "stats after ingest");
  const int id61 = all[60].id;
  Check(road.Host({"prune", "7", "--below", std::to_string(id61)}).status == 0,
        "prune --below the 61st record runs");
  Check(road.Stats(orphans) ==
                counts([&](const Stored& s) { return s.id >= id61; }) &&
            orphans == 0,
        "every table keeps only the records from the 61st");
  const std::string cut = all[149].r.record.date;
  Check(road.Host({"prune", "7", "--before", cut}).status == 0,
        "prune --before " + cut + " runs");
  Check(road.Stats(orphans) == counts([&](const Stored& s) {
          return s.id >= id61 && s.r.record.date >= cut;
        }) &&
            orphans == 0,
        "every table keeps only records from " + cut + ", no orphaned rows");
  Check(road.Host({"drop", "7"}).status == 0, "drop runs");
  Check(road.Stats(orphans) ==
            std::vector<std::string>{"missing", "missing", "missing", "0"},
        "no table is left");

  if (g_failures == 0) fs::remove_all(dir);
  std::printf("%d failed\n", g_failures);
  return g_failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace qmhost

int main(int argc, char** argv) { return qmhost::RunRoad(argc, argv); }
