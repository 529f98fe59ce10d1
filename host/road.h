// A Road is one device of the DV installation on one database engine, and
// the road its text records take there, as a recording application walks
// it: set-up (init), storing (ingest), browsing, searching, pruning and
// dropping, each a command of quillmore-host. Each runs the library's
// statements in that order, shows them, and names the statement and the
// engine's message when one fails. One Road serves one command.
#ifndef QUILLMORE_HOST_ROAD_H_
#define QUILLMORE_HOST_ROAD_H_

#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "quillmore/QuillmoreExt.h"

namespace qmhost {

enum Exit { kOk = 0, kFailed = 1, kUsage = 2, kCannotRun = 3 };

struct Options {
  std::string db = "quillmore.sqlite";  // made absolute before any call
  bool odbc = false;
  std::string odbc_extra;
  bool quiet = false;  // don't show the SQL
  bool tsv = false;    // tab-separated output, complete
  bool ids = false;    // search: the ids of each stage only
  bool or_mode = false;
  bool yes = false;          // drop, prune: don't ask
  long limit = 20;           // rows shown in a table; 0 for all
  double busy_timeout = 60;  // seconds a locked database is waited for
  long skip = 0;             // ingest: input lines passed over first
  std::string below, before;
  unsigned long long seed = 1;
};

class Road {
 public:
  Road(const Options& options, int device) : o_(options), device_(device) {}

  // Loads the device and connects. With `create_database` a server's
  // database is created first, on a connection without one.
  int Open(bool create_database);

  int Init();
  int IngestFile(const std::string& path);
  int Browse(const std::string& from, const std::string& to);
  int Search(int camera, const std::string& from, const std::string& to,
             const std::vector<std::string>& terms);
  int Prune();
  int Drop();
  int Stats();

 private:
  struct Terms {
    std::vector<_tagSEARCHPARAM> typed;    // as typed: the matcher's
    std::vector<_tagSEARCHPARAM> escaped;  // escaped: the SELECT's
    std::vector<bool> keyword;             // a keyword item (kind 2)
    std::vector<std::string> xml_items;    // XML items (kind 0), named
  };
  int ReadTerms(const std::vector<std::string>& args, Terms& t);
  bool Select(int camera, const std::string& from, const std::string& to,
              std::vector<_tagSEARCHPARAM> params, Rows& records, size_t& rows);
  std::string Ids(const Rows& rows) const;
  void PrintSearch(const Terms& t, bool split, size_t rows, const Rows& found,
                   const Rows& range, const Rows& keyword,
                   const Rows& passed) const;
  int XmlSearch(int camera, const std::string& from, const std::string& to,
                const Terms& t);
  // A table the device's statements use, and what of it the database has.
  struct Table {
    std::string name;
    std::vector<std::string> columns;
    std::vector<std::string> clauses;  // user tables: each column's clause
    std::vector<std::string> create;   // the statements that make it
    bool present = false;
    std::vector<size_t> missing;  // columns the database lacks
  };
  std::vector<Table> Tables();
  bool Compare(std::vector<Table>& tables);
  static std::string Lacks(const std::vector<Table>& tables);
  std::string TextTable();
  std::string Esc(const std::string& value) const;
  bool Confirm(const std::string& what) const;
  // The engine's options as given, for a command line to go on with.
  std::string EngineArguments() const;
  void Show(const std::string& sql) const;
  // Shows and runs one statement; a failure is reported.
  bool Run(const std::string& sql, long long* changed = nullptr);
  bool Query(const std::string& sql, Rows& rows, bool show = true);
  void Failed(const std::string& sql, const std::string& message) const;
  int Connect(const std::string& connection);
  int Ready();

  const Options& o_;
  int device_;
  int type_ = 0;
  CQuillmoreExt q_;
  std::unique_ptr<Engine> db_;
};

}  // namespace qmhost

#endif  // QUILLMORE_HOST_ROAD_H_
