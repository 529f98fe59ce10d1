// One device of the DV installation on one database engine: the commands
// of quillmore-host (init, ingest, browse, search, prune, drop, stats).
// Each runs the library's statements in the order a recording application
// would, shows them, and names the statement and the engine's message when
// one fails.
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
  long limit = 20;           // rows shown in a table; 0 for all
  double busy_timeout = 60;  // seconds a locked database is waited for
  long skip = 0;             // ingest: input lines passed over first
  std::string below, before;
  unsigned long long seed = 1;
  std::vector<std::string> args;  // the command's operands
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
  std::string TextTable();
  std::vector<std::string> UserTables();
  std::string Esc(const std::string& value) const;
  // The engine's options as given, for a command line to go on with.
  std::string EngineArguments() const;
  void Show(const std::string& sql) const;
  // Shows and runs one statement; a failure is reported.
  bool Run(const std::string& sql, long long* changed = nullptr);
  bool Query(const std::string& sql, Rows& rows, bool show = true);
  // Reads that see what a cluster committed before them; reported.
  bool SyncReads();
  // How a call of the engine that gave `ok` failed.
  Failure Tried(bool ok) const;
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
