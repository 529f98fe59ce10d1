// A Road is one device of the DV installation on one database engine, and
// the road its text records take there, as a recording application walks
// it: set-up (init), storing (ingest), browsing, searching, pruning and
// dropping, each a command of quillmore-host. Each runs the library's
// statements in that order, shows them, and names the statement and the
// engine's message when one fails. One Road serves one command.
#ifndef QUILLMORE_HOST_ROAD_H_
#define QUILLMORE_HOST_ROAD_H_

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "ingest.h"
#include "quillmore/QuillmoreExt.h"

namespace qmhost {

enum Exit { kOk = 0, kFailed = 1, kUsage = 2, kCannotRun = 3 };

struct Options {
  std::string db = "quillmore.sqlite";  // made absolute before any call
  bool odbc = false;
  std::string odbc_extra;
  // A cluster's nodes ("HOST[:PORT]"), each in place of the connection
  // string's SERVER and PORT: the first that answers is used, the next one
  // when it fails. A lost connection is taken up on the next node that
  // answers, trying for up to the busy timeout.
  std::vector<std::string> nodes;
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

// A lost connection (a node that died or left its cluster's primary
// component) is taken up on the next node listed by ingest (through
// Recovery), browse, search and prune.
class Road : private Recovery {
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
    std::string keys;  // what the host added to the library's CREATE
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
  // A read, run again on the next node while its connection is lost.
  bool Query(const std::string& sql, Rows& rows, bool show = true);
  // Reads that see what a cluster committed before them; reported.
  bool SyncReads();
  void Failed(const std::string& sql, const std::string& message) const;
  // Connects to the first node that answers, in the order listed from
  // node `first` on (to the string's own server without --nodes).
  int Connect(const std::string& connection, size_t first);
  int Ready();
  // Node `i` connected and set up as this command's sessions are, or null.
  std::unique_ptr<Engine> OpenNode(const std::string& connection, size_t i,
                                   std::string& error);
  std::string NodeName(size_t i) const;
  // After a lost connection: the next node that answers (the one lost
  // last), tried again for up to the busy timeout. The lost engine stays
  // in db_ until another one replaces it.
  bool Failover(std::string& error);
  // Runs `work` (reads, or a step that can run twice; it returns how it
  // failed) again on the next node for as long as its connection is lost.
  template <typename Work>
  bool OnAnyNode(Work work);
  Engine* Reconnect(Engine& lost, std::string& error) override;
  Outcome Committed(Engine& db, const std::string& text_table,
                    const std::vector<long long>& ids,
                    const std::vector<const Record*>& records) override;

  const Options& o_;
  int device_;
  int type_ = 0;
  CQuillmoreExt q_;
  std::unique_ptr<Engine> db_;
  std::string connection_;   // the device's, with --odbc-extra
  size_t node_ = 0;          // the node db_ is connected to
  bool sync_reads_ = false;  // reads wait for the cluster's commits
  size_t reconnects_ = 0;    // by the ingest, since reconnects_since_
  std::chrono::steady_clock::time_point reconnects_since_;
};

}  // namespace qmhost

#endif  // QUILLMORE_HOST_ROAD_H_
