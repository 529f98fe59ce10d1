#include "ingest.h"

#include <climits>

#include "library_text.h"

namespace qmhost {
namespace {

constexpr int kBatch = 1000;

}  // namespace

Ingest::Ingest(CQuillmoreExt& q, int device, Engine& db, Report report)
    : q_(q),
      db_(db),
      report_(std::move(report)),
      backslashes_(db.MysqlFamily()),
      user_tables_(q.GetUseUserTable(device) != 0) {
  table_length_ = quillmore_tools::RecordText([&](char* b, uint32_t n) {
                    return q_.GetTableName(b, n);
                  }).size();
}

bool Ingest::Run(const std::string& sql) {
  if (keep_) first_statements.push_back(sql);
  bool ok;
  {
    Timed t(database_seconds);
    ok = db_.Execute(sql);
  }
  if (!ok) {
    ++refused;
    report_(sql, db_.error());
  }
  return ok;
}

bool Ingest::Add(const Record& r) {
  if (in_batch_ == 0) {
    Timed t(database_seconds);
    if (!db_.Begin()) {
      error_ = "BEGIN: " + db_.error();
      return false;
    }
  }
  const std::string date = Escaped(r.date, backslashes_);
  const std::string systime = Escaped(r.systime, backslashes_);
  const std::string text = Escaped(r.text, backslashes_);
  const std::string xml = Escaped(r.xml.value_or(""), backslashes_);
  const std::string path = Escaped(r.savepath, backslashes_);
  // The statement's exact length is its fixed text, the table name, the
  // values and two numbers of at most 11 characters.
  const uint64_t bound = 160 + table_length_ + date.size() + systime.size() +
                         text.size() + xml.size() + path.size();
  std::string insert;
  if (bound < INT32_MAX) {
    Timed t(library_seconds);
    insert = quillmore_tools::RecordText(
        [&](char* b, uint32_t n) {
          return q_.GetInsertQueryEx(r.camera, date.c_str(), systime.c_str(),
                                     text.c_str(), xml.c_str(), path.c_str(),
                                     r.savepos, b, n);
        },
        static_cast<uint32_t>(bound), static_cast<uint32_t>(bound));
  }
  if (insert.empty()) {
    ++refused;
    report_("(INSERT of the record dated " + r.date + ")",
            "the library made no INSERT for it");
  } else if (Run(insert)) {
    ++records;
    long long id = 0;
    bool have_id;
    {
      Timed t(database_seconds);
      have_id = db_.LastInsertId(id);
    }
    if (!have_id || id < INT_MIN || id > INT_MAX) {
      ++refused;
      report_("(the f_id of the record dated " + r.date + ")",
              have_id ? "out of the library's range" : db_.error());
    } else if (user_tables_ && r.xml && !r.xml->empty()) {
      std::string rows;
      const uint64_t limit = 16 * r.xml->size() + 65536;
      {
        Timed t(library_seconds);
        rows = quillmore_tools::RecordText(
            [&](char* b, uint32_t n) {
              return q_.GetUserInsertQuery(static_cast<int>(id), r.xml->c_str(),
                                           b, n);
            },
            static_cast<uint32_t>(std::min<uint64_t>(limit, INT32_MAX)));
      }
      if (rows.empty()) ++without_rows;
      for (const std::string& row : Statements(rows)) {
        if (Run(row)) ++user_rows;
      }
    }
  }
  keep_ = false;
  if (++in_batch_ == kBatch) return Finish();
  return true;
}

bool Ingest::Finish() {
  if (in_batch_ == 0) return true;
  in_batch_ = 0;
  Timed t(database_seconds);
  if (!db_.Commit()) {
    error_ = "COMMIT: " + db_.error();
    return false;
  }
  return true;
}

}  // namespace qmhost
