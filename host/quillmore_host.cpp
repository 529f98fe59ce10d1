// quillmore-host: a host of the library that really stores and finds text
// records. It works on one device of the DV installation beside its
// executable and runs exactly the statements the library gives it, in the
// order a recording application would: on an embedded SQLite file by
// default, or through ODBC with the device's own connection string. It uses
// only the public header.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "receipts.h"
#include "road.h"

namespace qmhost {
namespace {

const char kUsageText[] =
    "usage: quillmore-host COMMAND [ARGS] [--db FILE | --odbc [--odbc-extra "
    "ATTRS]]\n"
    "\n"
    "Stores, browses, searches and prunes the text records of one device of\n"
    "the DV installation beside this executable (DV/devdata<N>.ini), with\n"
    "the SQL the library makes, and shows that SQL as it runs.\n"
    "\n"
    "commands:\n"
    "  init DEVICE                 create the database, text table, user "
    "tables\n"
    "  ingest DEVICE FILE|-        store records from JSON Lines\n"
    "  browse DEVICE FROM TO       the records of a date range, user tables "
    "joined\n"
    "  search DEVICE CAMERA FROM TO [ITEM=VALUE|ITEM>=VALUE|ITEM<=VALUE ...] "
    "[--or]\n"
    "                              the search SELECT, then the keyword items "
    "in memory\n"
    "  prune DEVICE --below ID | --before DATE\n"
    "                              delete old records and their user-table "
    "rows\n"
    "  drop DEVICE                 drop the user tables and the text table\n"
    "  stats DEVICE                rows per table, user-table rows without a "
    "record\n"
    "  generate N [--seed S]       write N generated till receipts as JSON "
    "Lines\n"
    "\n"
    "engines:\n"
    "  --db FILE          SQLite, the default (FILE defaults to "
    "quillmore.sqlite);\n"
    "                     runs devices of type 2 and 3 (the SQL Server forms)\n"
    "  --odbc             ODBC with the device's connection string (type 4:\n"
    "                     MariaDB or MySQL through the driver registered as\n"
    "                     \"MySQL ODBC 3.51 Driver\")\n"
    "  --odbc-extra ATTRS attributes added to that string, e.g. "
    "\"PORT=3307;\"\n"
    "\n"
    "'quillmore-host COMMAND --help' tells more; 'quillmore-host --version'\n"
    "prints the version. Exit status: 0 done, 1 a\n"
    "statement failed or was refused, 2 bad arguments, 3 what was asked can't\n"
    "run on this engine.\n";

struct Help {
  const char* command;
  const char* text;
};

const Help kHelp[] = {
    {"init",
     "usage: quillmore-host init DEVICE [engine]\n\n"
     "On a server (--odbc): the library's CREATE DATABASE on a connection\n"
     "without a database, then the device's own connection string. Then the\n"
     "text table (GetCreateQuery) and the user tables (GetUserCreateQueryEx).\n"
     "On SQLite the file is the database, and the text table is created with\n"
     "the host's own equivalent of the SQL Server script (it says so).\n"},
    {"ingest",
     "usage: quillmore-host ingest DEVICE FILE|- [--quiet] [engine]\n\n"
     "One JSON object per line: date, camera and text are required; systime,\n"
     "xml, savepath and savepos are optional. For each record: the library's\n"
     "INSERT (GetInsertQueryEx) with the host's values escaped for the "
     "engine,\n"
     "the f_id the database gave it, and the user-table INSERTs the library\n"
     "makes from its XML (GetUserInsertQuery). A thousand records per\n"
     "transaction. A statement the engine refuses is reported with its "
     "message\n"
     "and counted, and the ingest goes on; the exit status is then 1.\n"
     "Shows a progress bar when standard error is a terminal, and at the end\n"
     "records per second and the share of the time spent inside the library\n"
     "and inside the database.\n"},
    {"browse",
     "usage: quillmore-host browse DEVICE FROM TO [--limit N] [--tsv] "
     "[engine]\n\n"
     "The library's date-range SELECT (GetSelectQueryByDateTime), which joins\n"
     "the user tables: one row per row of each joined table. The table shows\n"
     "the first N rows (20; --limit 0 for all); --tsv prints every row and\n"
     "column, tab-separated, with \\\\, \\t, \\n, \\r escaped and NULL as "
     "\\N.\n"},
    {"search",
     "usage: quillmore-host search DEVICE CAMERA FROM TO [TERM ...] [--or]\n"
     "                             [--ids] [--tsv] [--limit N] [engine]\n\n"
     "TERM is ITEM=VALUE, ITEM>VALUE, ITEM>=VALUE (the first value, codes 0,\n"
     "1, 2) or ITEM<VALUE, ITEM<=VALUE (the second value, codes 3, 4); ITEM\n"
     "is an item index (see 'quillmore items DEVICE') or 'text' for free\n"
     "text. Two bounds on one item make one parameter. CAMERA 100 is every\n"
     "camera. The library's SELECT (GetSelectQueryByItemIndex) gets the\n"
     "values escaped for the engine; then each record it returns is tested\n"
     "in memory (IsValidSearchRecord) with the values as typed, so keyword\n"
     "items (kind 2), which give no SQL, filter what the SELECT found.\n"
     "--or joins the terms with OR. --ids prints the ids of each stage.\n"
     "XML items (kind 0) give an exist() clause only SQL Server runs: the\n"
     "host shows the statement and says so instead of running it.\n"},
    {"prune",
     "usage: quillmore-host prune DEVICE --below ID | --before DATE "
     "[engine]\n\n"
     "The library's DELETE batch (GetDeleteQueryByID or GetDeleteQueryByDate)\n"
     "for the text table and the user tables, in one transaction.\n"},
    {"drop",
     "usage: quillmore-host drop DEVICE [engine]\n\n"
     "The user tables' DROP batch (GetUserDropQueryEx), then the text table's\n"
     "DROP (GetDropQuery). The database itself stays.\n"},
    {"stats",
     "usage: quillmore-host stats DEVICE [--tsv] [engine]\n\n"
     "Rows in the device's text table and user tables (or 'missing'), user-\n"
     "table rows whose f_id has no text record, and how many other tables\n"
     "the database holds.\n"},
    {"generate",
     "usage: quillmore-host generate N [--seed S]\n\n"
     "N till receipts as JSON Lines on standard output, the same for the same\n"
     "seed: two tills from 2026-12-01, about 120 receipts a day, one to five\n"
     "items each, cashiers and items with quotes, backslashes and non-ASCII\n"
     "letters, CARD or CASH and sometimes VOID. Every value fits the sample\n"
     "till's user-table columns (Total 20, Cashier 30, name 40, price 10).\n"},
};

int Usage(const std::string& message) {
  std::fprintf(
      stderr,
      "quillmore-host: %s\n(quillmore-host --help tells the commands)\n",
      message.c_str());
  return kUsage;
}

bool ParseNumber(const std::string& s, long long lo, long long hi,
                 long long& out) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (s.empty() || *end != '\0' || errno != 0 || v < lo || v > hi) return false;
  out = v;
  return true;
}

// The library makes the executable's folder the current directory, so
// every path the user gives is made absolute first.
std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/' || path == "-") return path;
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == nullptr) return path;
  return std::string(cwd) + "/" + path;
}

int Generate(const Options& o) {
  long long n = 0;
  if (o.args.size() != 1 || !ParseNumber(o.args[0], 0, 100000000, n)) {
    return Usage("generate takes a number of receipts (at most 100000000)");
  }
  ReceiptGenerator gen(o.seed);
  for (long long i = 0; i < n; ++i) {
    const std::string line = ToJsonLine(gen.Next().record);
    if (std::printf("%s\n", line.c_str()) < 0) return kFailed;
  }
  return std::fflush(stdout) == 0 ? kOk : kFailed;
}

int Main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsageText, stderr);
    return kUsage;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  if (command == "--version") {
    std::printf("quillmore-host %s\n", QUILLMORE_VERSION);
    return kOk;
  }
  Options o;
  bool help = false;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    long long n = 0;
    if (a == "--help" || a == "-h") {
      help = true;
    } else if (a == "--db") {
      if (!value(o.db)) return Usage("--db takes a file");
    } else if (a == "--odbc") {
      o.odbc = true;
    } else if (a == "--odbc-extra") {
      if (!value(o.odbc_extra)) return Usage("--odbc-extra takes attributes");
    } else if (a == "--quiet" || a == "-q") {
      o.quiet = true;
    } else if (a == "--tsv") {
      o.tsv = true;
    } else if (a == "--ids") {
      o.ids = true;
    } else if (a == "--or") {
      o.or_mode = true;
    } else if (a == "--limit") {
      if (!value(v) || !ParseNumber(v, 0, 1L << 30, n))
        return Usage("--limit takes a number");
      o.limit = static_cast<long>(n);
    } else if (a == "--seed") {
      if (!value(v) || !ParseNumber(v, 0, INT64_MAX, n))
        return Usage("--seed takes a number");
      o.seed = static_cast<unsigned long long>(n);
    } else if (a == "--below") {
      if (!value(o.below)) return Usage("--below takes a record number");
    } else if (a == "--before") {
      if (!value(o.before)) return Usage("--before takes a date");
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      return Usage("unknown option " + a);
    } else {
      o.args.push_back(a);
    }
  }
  const Help* h = nullptr;
  for (const Help& candidate : kHelp) {
    if (command == candidate.command) h = &candidate;
  }
  if (h == nullptr) return Usage("unknown command '" + command + "'");
  if (help) {
    std::fputs(h->text, stdout);
    return kOk;
  }
  if (command == "generate") return Generate(o);
  o.db = Absolute(o.db);

  static const struct {
    const char* command;
    size_t operands;  // after DEVICE; search takes more
  } kOperands[] = {{"init", 0},  {"ingest", 1}, {"browse", 2}, {"search", 3},
                   {"prune", 0}, {"drop", 0},   {"stats", 0}};
  size_t want = 0;
  for (const auto& k : kOperands) {
    if (command == k.command) want = k.operands;
  }
  long long device = 0;
  if (o.args.empty() ||
      !ParseNumber(o.args[0], -2147483647LL - 1, 2147483647LL, device)) {
    return Usage(command + " takes a device number first");
  }
  const bool exact = command != "search";
  if ((exact && o.args.size() != want + 1) || o.args.size() < want + 1) {
    std::fputs(h->text, stderr);
    return kUsage;
  }
  if (command == "prune" && o.below.empty() == o.before.empty()) {
    return Usage("prune takes either --below ID or --before DATE");
  }
  long long camera = 0;
  if (command == "search" &&
      !ParseNumber(o.args[1], -2147483647LL - 1, 2147483647LL, camera)) {
    return Usage("search takes a camera number (100 for all)");
  }
  const std::string input = command == "ingest" ? Absolute(o.args[1]) : "";

  Road road(o, static_cast<int>(device));
  if (const int rc = road.Open(command == "init"); rc != kOk) return rc;
  if (command == "init") return road.Init();
  if (command == "ingest") return road.IngestFile(input);
  if (command == "browse") return road.Browse(o.args[1], o.args[2]);
  if (command == "search") {
    return road.Search(
        static_cast<int>(camera), o.args[2], o.args[3],
        std::vector<std::string>(o.args.begin() + 4, o.args.end()));
  }
  if (command == "prune") return road.Prune();
  if (command == "drop") return road.Drop();
  return road.Stats();
}

}  // namespace
}  // namespace qmhost

int main(int argc, char** argv) { return qmhost::Main(argc, argv); }
