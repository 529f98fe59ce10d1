// quillmore-host: a host of the library that really stores and finds text
// records. It works on one device of the DV installation beside its
// executable and runs exactly the statements the library gives it, in the
// order a recording application would: on an embedded SQLite file by
// default, or through ODBC with the device's own connection string. It uses
// only the public header.
//
// The commands are one table (kCommands): their operands, options, help and
// the Road method that runs each. CLI11 parses the line from it, so options
// go anywhere, take --opt=value, and every command's --help lists its own.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "receipts.h"
#include "road.h"

namespace qmhost {
namespace {

using Operands = std::vector<std::string>;

// The options a command takes, beside --help.
enum : unsigned {
  kEngine = 1 << 0,  // --db, --odbc, --odbc-extra, --busy-timeout, --quiet
  kSkip = 1 << 1,
  kLimit = 1 << 2,
  kTsv = 1 << 3,
  kSearch = 1 << 4,  // --or, --ids
  kPrune = 1 << 5,   // --below, --before
  kSeed = 1 << 6,
  kYes = 1 << 7,
};

struct Command {
  const char* name;
  const char* operands;  // their names; the last may take any number (...)
  const char* summary;
  const char* details;
  unsigned options;
  // Runs with the device loaded and the database open; null for a command
  // without a device.
  int (*run)(Road& road, const Operands& operands);
};

bool ParseNumber(const std::string& s, long long lo, long long hi,
                 long long& out) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (s.empty() || *end != '\0' || errno != 0 || v < lo || v > hi) return false;
  out = v;
  return true;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "quillmore-host: %s\n", message.c_str());
  return kUsage;
}

int Search(Road& road, const Operands& a) {
  long long camera = 0;
  if (!ParseNumber(a[0], INT32_MIN, INT32_MAX, camera)) {
    return Usage("search: CAMERA is a camera number (100 for all)");
  }
  return road.Search(static_cast<int>(camera), a[1], a[2],
                     Operands(a.begin() + 3, a.end()));
}

const Command kCommands[] = {
    {"init", "DEVICE", "create the database, text table, user tables",
     "On a server (--odbc): the library's CREATE DATABASE on a connection\n"
     "without a database, then the device's own connection string. Then the\n"
     "text table (GetCreateQuery) and the user tables (GetUserCreateQueryEx),\n"
     "each completed with an index on f_id; on MySQL and MariaDB also with\n"
     "ENGINE=InnoDB and, where the server requires a primary key or is a\n"
     "Galera cluster node, an invisible auto-increment row key qm_row.\n"
     "On SQLite the file is the database, and the text table is created with\n"
     "the host's own equivalent of the SQL Server script (it says so). Only\n"
     "init makes a database file.",
     kEngine, [](Road& road, const Operands&) { return road.Init(); }},
    {"ingest", "DEVICE FILE|-", "store records from JSON Lines",
     "One JSON object per line: date (YYYY-MM-DD HH:MM:SS), camera and text\n"
     "are required; systime, xml, savepath and savepos are optional. A line\n"
     "that is no such record is reported and passed over; a UTF-8 byte-order\n"
     "mark before the first is skipped. For each record: the library's INSERT\n"
     "(GetInsertQueryEx) with the host's values escaped for the engine, the\n"
     "f_id the database gave it, and the user-table INSERTs the library makes\n"
     "from its XML (GetUserInsertQuery). A thousand records per transaction.\n"
     "First the tables and columns the statements use are checked (init makes\n"
     "what is missing). A record is stored whole or not at all: when the\n"
     "engine refuses one of its statements, none of its rows stays, it is\n"
     "reported with its line, and the ingest goes on; the exit status is then\n"
     "1. A busy database is waited for (--busy-timeout). An error that can't\n"
     "get better, a wait that ran out, or INT or TERM stop the ingest after\n"
     "the batch in flight is rolled back (on INT or TERM, committed); it then\n"
     "says how far the input is stored and the command that goes on from\n"
     "there. Ingesting the same lines again stores them again: --skip N "
     "passes\n"
     "over the first N lines of the input (blank lines and lines that are no\n"
     "record included). Shows a progress bar when standard error is a\n"
     "terminal, and at the end records per second and the share of the time\n"
     "spent inside the library and inside the database.",
     kEngine | kSkip,
     [](Road& road, const Operands& a) { return road.IngestFile(a[0]); }},
    {"browse", "DEVICE FROM TO", "the records of a date range",
     "The library's date-range SELECT (GetSelectQueryByDateTime), which joins\n"
     "the user tables: one row per row of each joined table. The table shows\n"
     "the first N rows (--limit); --tsv prints every row and column,\n"
     "tab-separated, with \\\\, \\t, \\n, \\r escaped and NULL as \\N.",
     kEngine | kLimit | kTsv,
     [](Road& road, const Operands& a) { return road.Browse(a[0], a[1]); }},
    {"search", "DEVICE CAMERA FROM TO TERM...",
     "the search SELECT, then the keyword items in memory",
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
     "host shows the statement and says so instead of running it.",
     kEngine | kLimit | kTsv | kSearch, Search},
    {"prune", "DEVICE", "delete old records and their user-table rows",
     "The library's DELETE batch (GetDeleteQueryByID for --below,\n"
     "GetDeleteQueryByDate for --before) for the text table and the user\n"
     "tables, in steps of at most 1000 records, oldest first, one transaction\n"
     "each: the batch for the bound the 1000th remaining record sets, until\n"
     "the bound given is reached. One of the two options is needed. On a\n"
     "terminal it says how many records go and asks first (--yes doesn't).",
     kEngine | kPrune | kYes,
     [](Road& road, const Operands&) { return road.Prune(); }},
    {"drop", "DEVICE", "drop the user tables and the text table",
     "The user tables' DROP batch (GetUserDropQueryEx), then the text table's\n"
     "DROP (GetDropQuery). The database itself stays. On a terminal it\n"
     "asks first (--yes doesn't).",
     kEngine | kYes, [](Road& road, const Operands&) { return road.Drop(); }},
    {"stats", "DEVICE", "rows per table, user-table rows without a record",
     "Rows in the device's text table and user tables (or 'missing'), user-\n"
     "table rows whose f_id has no text record, and how many other tables\n"
     "the database holds.",
     kEngine | kTsv, [](Road& road, const Operands&) { return road.Stats(); }},
    {"generate", "N", "write N generated till receipts as JSON Lines",
     "N till receipts as JSON Lines on standard output, the same for the same\n"
     "seed: two tills from 2026-12-01, about 120 receipts a day, one to five\n"
     "items each, cashiers and items with quotes, backslashes and non-ASCII\n"
     "letters, CARD or CASH and sometimes VOID. Every value fits the sample\n"
     "till's user-table columns (Total 20, Cashier 30, name 40, price 10).",
     kSeed, nullptr},
};

const char kAbout[] =
    "Stores, browses, searches and prunes the text records of one device of\n"
    "the DV installation beside this executable (DV/devdata<N>.ini), with\n"
    "the SQL the library makes, and shows that SQL as it runs.";

const char kFooter[] =
    "Engines: SQLite by default (--db FILE, quillmore.sqlite in the current\n"
    "folder), which runs devices of type 2 and 3 (the SQL Server forms); or\n"
    "--odbc, the device's own connection string (type 4: MariaDB or MySQL\n"
    "through the driver registered as \"MySQL ODBC 3.51 Driver\"), with\n"
    "--odbc-extra attributes added to it, e.g. \"PORT=3307;\". On a cluster,\n"
    "--nodes HOST[:PORT],... lists its nodes: a command goes on through the\n"
    "next when its node fails.\n"
    "'quillmore-host COMMAND --help' tells more. Exit status: 0 done, 1 a\n"
    "statement failed or was refused, 2 bad arguments, 3 what was asked can't\n"
    "run on this engine, 128+N stopped by signal N after committing.";

// The library makes the executable's folder the current directory, so
// every path the user gives is made absolute first. An SQLite URI
// ("file:PATH?QUERY") keeps its form with its path made absolute.
std::string Absolute(const std::string& path) {
  if (path.rfind("file:", 0) == 0) return "file:" + Absolute(path.substr(5));
  if (path.empty() || path[0] == '/' || path == "-") return path;
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == nullptr) return path;
  return std::string(cwd) + "/" + path;
}

int Generate(const Options& o, const Operands& a) {
  long long n = 0;
  if (!ParseNumber(a[0], 0, 100000000, n)) {
    return Usage("generate takes a number of receipts (at most 100000000)");
  }
  ReceiptGenerator gen(o.seed);
  for (long long i = 0; i < n; ++i) {
    const std::string line = ToJsonLine(gen.Next().record);
    if (std::printf("%s\n", line.c_str()) < 0) return kFailed;
  }
  return kOk;
}

// The options of one command (or of the program, before the command) bound
// to `o`; `given` collects the engine options seen, to check them together.
void AddOptions(CLI::App& app, unsigned which, Options& o,
                std::vector<CLI::Option*>& db, std::vector<CLI::Option*>& odbc,
                std::vector<CLI::Option*>& extra) {
  if (which & kEngine) {
    db.push_back(app.add_option("--db", o.db,
                                "SQLite database file, or an SQLite URI "
                                "(file:PATH?mode=ro)")
                     ->option_text("FILE"));
    odbc.push_back(app.add_flag(
        "--odbc", o.odbc, "the device's ODBC connection string (type 4)"));
    extra.push_back(app.add_option("--odbc-extra", o.odbc_extra,
                                   "attributes added to the connection "
                                   "string, e.g. \"PORT=3307;\"")
                        ->option_text("ATTRS"));
    app.add_option("--nodes", o.nodes,
                   "a cluster's nodes, each in place of the string's SERVER "
                   "and PORT: the first that answers, the next when one fails")
        ->option_text("HOST[:PORT],...")
        ->delimiter(',');
    app.add_option("--busy-timeout", o.busy_timeout,
                   "seconds to wait for a database another connection "
                   "holds locked (60)")
        ->option_text("SECONDS")
        ->check(CLI::Range(0.0, 86400.0));
    app.add_flag("-q,--quiet", o.quiet, "don't show the SQL as it runs");
  }
  if (which & kSkip) {
    app.add_option("--skip", o.skip,
                   "pass over the first N lines of the input, to go on after "
                   "a stop")
        ->option_text("N")
        ->check(CLI::NonNegativeNumber);
  }
  if (which & kLimit) {
    app.add_option("--limit", o.limit, "rows shown in a table (20; 0 for all)")
        ->option_text("N")
        ->check(CLI::Range(0L, 1L << 30));
  }
  if (which & kTsv) {
    app.add_flag("--tsv", o.tsv,
                 "the whole table, tab-separated, on standard output");
  }
  if (which & kSearch) {
    app.add_flag("--or", o.or_mode, "the terms joined with OR");
    app.add_flag("--ids", o.ids, "the ids of each stage, nothing else");
  }
  if (which & kPrune) {
    app.add_option("--below", o.below, "delete the records below this f_id")
        ->option_text("ID");
    app.add_option("--before", o.before,
                   "delete the records dated before this date: YYYY-MM-DD "
                   "HH:MM:SS, or YYYY-MM-DD (before the day's first second)")
        ->option_text("DATE");
  }
  if (which & kYes) {
    app.add_flag("-y,--yes", o.yes,
                 "don't ask first (it asks only when standard input is a "
                 "terminal)");
  }
  if (which & kSeed) {
    app.add_option("--seed", o.seed, "the generator's seed (1)")
        ->option_text("S");
  }
}

// What an operand means, for the commands' help.
const char* Meaning(const std::string& operand) {
  static const std::pair<const char*, const char*> kMeanings[] = {
      {"DEVICE", "a device of the DV installation (DV/devdata<DEVICE>.ini)"},
      {"FILE|-", "JSON Lines, or - for standard input"},
      {"FROM",
       "the first date: YYYY-MM-DD HH:MM:SS, or YYYY-MM-DD from the "
       "day's first second"},
      {"TO",
       "the last date: YYYY-MM-DD HH:MM:SS, or YYYY-MM-DD to the day's "
       "last second"},
      {"CAMERA", "a camera number, 100 for every camera"},
      {"TERM",
       "ITEM=VALUE, ITEM>=VALUE, ITEM<=VALUE, ITEM>VALUE, "
       "ITEM<VALUE"},
      {"N", "how many"},
  };
  for (const auto& [name, meaning] : kMeanings) {
    if (operand == name) return meaning;
  }
  return "";
}

// CLI11's message as one line of ours, with where to read on. A first
// word that names no command is told as such.
int ParseFailed(const CLI::App& app, const CLI::ParseError& e, int argc,
                char** argv) {
  const auto subs = app.get_subcommands();
  if (subs.empty()) {
    std::string names;
    for (const Command& c : kCommands) names += std::string(" ") + c.name;
    std::string word;
    for (int i = 1; i < argc && word.empty(); ++i) {
      const std::string a = argv[i];
      if (a == "--db" || a == "--odbc-extra" || a == "--nodes" ||
          a == "--busy-timeout") {
        ++i;  // its value
      } else if (a.empty() || a[0] != '-') {
        word = a;
      }
    }
    std::fprintf(stderr,
                 "quillmore-host: %s (commands:%s; quillmore-host --help)\n",
                 word.empty() ? "a command is needed"
                              : ("unknown command '" + word + "'").c_str(),
                 names.c_str());
    return kUsage;
  }
  std::string what = e.what();
  if (!what.empty()) what[0] = static_cast<char>(std::tolower(what[0]));
  const std::string command = subs[0]->get_name();
  std::fprintf(stderr,
               "quillmore-host: %s: %s (quillmore-host %s --help lists the "
               "options)\n",
               command.c_str(), what.c_str(), command.c_str());
  return kUsage;
}

int Main(int argc, char** argv) {
  Options o;
  CLI::App app(kAbout, "quillmore-host");
  app.footer(kFooter);
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  app.get_formatter()->label("SUBCOMMANDS", "COMMANDS");
  app.get_formatter()->label("Subcommands", "Commands");
  // "NAME VERSION", as help2man reads it for the manual page.
  app.set_version_flag("--version", "quillmore-host " QUILLMORE_VERSION,
                       "print the program's version");
  app.set_help_flag("-h,--help", "print this help");
  app.require_subcommand(1);
  app.fallthrough();
  std::vector<CLI::Option*> db, odbc, extra;
  AddOptions(app, kEngine, o, db, odbc, extra);
  // Operands of each command, in storage that stays where it is: the
  // fixed ones, then any number ("...").
  std::deque<std::pair<Operands, Operands>> operands;
  std::vector<std::pair<const Command*, CLI::App*>> subs;
  for (const Command& c : kCommands) {
    CLI::App* sub = app.add_subcommand(c.name, c.summary);
    sub->group("Commands");
    sub->footer(c.details);
    sub->set_help_flag("-h,--help", "print this help");
    AddOptions(*sub, c.options, o, db, odbc, extra);
    auto& [fixed, rest] = operands.emplace_back();
    std::istringstream words(c.operands);
    std::vector<std::string> names{std::istream_iterator<std::string>(words),
                                   {}};
    const bool any = names.back().find("...") != std::string::npos;
    fixed.resize(names.size() - (any ? 1 : 0));
    for (size_t i = 0; i < fixed.size(); ++i)
      sub->add_option(names[i], fixed[i], Meaning(names[i]))
          ->required()
          ->type_name("");
    if (any) {
      const std::string name = names.back().substr(0, names.back().find('.'));
      sub->add_option(name, rest, Meaning(name))->type_name("");
    }
    subs.emplace_back(&c, sub);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return ParseFailed(app, e, argc, argv);
  }
  size_t given_db = 0, given_odbc = 0, given_extra = 0;
  for (CLI::Option* p : db) given_db += p->count();
  for (CLI::Option* p : odbc) given_odbc += p->count();
  for (CLI::Option* p : extra) given_extra += p->count();
  if (given_db > 0 && given_odbc > 0) {
    return Usage("--db (SQLite) and --odbc (a server) exclude each other");
  }
  if (given_extra > 0 && given_odbc == 0) {
    return Usage("--odbc-extra goes with --odbc");
  }
  if (!o.nodes.empty() && given_odbc == 0) {
    return Usage("--nodes goes with --odbc");
  }
  for (const std::string& node : o.nodes) {
    if (node.empty()) return Usage("--nodes takes HOST[:PORT],...");
  }
  for (size_t k = 0; k < subs.size(); ++k) {
    const Command& c = *subs[k].first;
    if (!subs[k].second->parsed()) continue;
    Operands a = operands[k].first;
    a.insert(a.end(), operands[k].second.begin(), operands[k].second.end());
    if (c.run == nullptr) return Generate(o, a);
    long long device = 0;
    if (!ParseNumber(a[0], INT32_MIN, INT32_MAX, device)) {
      return Usage(std::string(c.name) + ": DEVICE is a device number");
    }
    if ((c.options & kPrune) && o.below.empty() == o.before.empty()) {
      return Usage("prune takes either --below ID or --before DATE");
    }
    // One date form: FROM, TO and --before are made whole here.
    std::istringstream words(c.operands);
    const std::vector<std::string> names{
        std::istream_iterator<std::string>(words), {}};
    std::string bound;
    for (size_t i = 0; i < names.size() && i < a.size(); ++i) {
      if (names[i] != "FROM" && names[i] != "TO") continue;
      if (!DateBound(a[i], names[i] == "TO", bound)) {
        return Usage(std::string(c.name) + ": " + names[i] + " '" + a[i] +
                     "' is not YYYY-MM-DD HH:MM:SS or YYYY-MM-DD");
      }
      a[i] = bound;
    }
    if (!o.before.empty()) {
      if (!DateBound(o.before, false, bound)) {
        return Usage("prune: --before '" + o.before +
                     "' is not YYYY-MM-DD HH:MM:SS or YYYY-MM-DD");
      }
      o.before = bound;
    }
    o.db = Absolute(o.db);
    Operands rest(a.begin() + 1, a.end());
    if (std::string(c.name) == "ingest") rest[0] = Absolute(rest[0]);
    Road road(o, static_cast<int>(device));
    if (const int rc = road.Open(std::string(c.name) == "init"); rc != kOk)
      return rc;
    return c.run(road, rest);
  }
  return kUsage;
}

// A write to standard output that failed (a full disk, a closed pipe)
// fails the command, said on standard error.
int Finished(int rc) {
  const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
  if (written) return rc;
  std::fprintf(stderr, "quillmore-host: can't write standard output: %s\n",
               std::strerror(errno));
  return rc == kOk ? kFailed : rc;
}

}  // namespace
}  // namespace qmhost

int main(int argc, char** argv) {
  return qmhost::Finished(qmhost::Main(argc, argv));
}
