#include "records.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "engine.h"
#include "ingest.h"
#include "receipts.h"

namespace qmhost {
namespace {

TEST(Records, JsonLinesReadWhatTheyMeanOrSayWhy) {
  struct Case {
    std::string line;
    std::string text;   // the record's text when read
    std::string error;  // a part of the message when refused
  } cases[] = {
      {R"({"date":"d","camera":2,"text":"a\"b\\c\/\n\t"})", "a\"b\\c/\n\t", ""},
      {R"( { "text" : "\u00e9\u20ac\ud83d\ude00" , "camera" : -1 , "date" : "d" , "extra" : [1] } )",
       "", "nested"},
      {R"({"text":"\u00e9\u20ac\ud83d\ude00","camera":-1,"date":"d","extra":null,"n":1.5e3,"b":true})",
       "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", ""},
      {R"({"date":"d","camera":1,"text":"x","xml":null})", "x", ""},
      {R"({"date":"d","camera":1,"text":"\u0000"})", "", "zero character"},
      {R"({"date":"d","camera":1,"text":"\ud83d"})", "", "bad escape"},
      {R"({"date":"d","camera":1,"text":"\ude00x"})", "", "bad escape"},
      {R"({"date":"d","camera":1,"text":"\x"})", "", "bad escape"},
      {"{\"date\":\"d\",\"camera\":1,\"text\":\"a\tb\"}", "",
       "control character"},
      {R"({"date":"d","camera":1,"text":"open)", "", "closing quote"},
      {"{\"date\":\"d\",\"camera\":1,\"text\":\"a\xff\"}", "",
       "invalid UTF-8 at byte 33"},
      {R"({"date":"d","camera":1,"text":"x","n":tru})", "", "'n': no JSON"},
      {R"({"date":"d","camera":1})", "", "no 'text'"},
      {R"({"date":"d","camera":1.5,"text":""})", "", "whole number"},
      {R"({"date":"d","camera":2147483648,"text":""})", "", "out of range"},
      {R"({"date":"d","camera":1,"text":"","savepos":-1})", "", "out of range"},
      {R"({"date":"d","camera":1,"text":"","text":""})", "",
       "'text': appears twice"},
      {R"({"date":"d","camera":1,"text":""} x)", "", "text after the record"},
      {R"(["date"])", "", "one JSON object"},
      {"", "", "one JSON object"},
  };
  for (const Case& c : cases) {
    Record r;
    std::string error;
    const bool ok = ParseJsonLine(c.line, r, error);
    EXPECT_EQ(ok, c.error.empty()) << c.line << ": " << error;
    if (ok) {
      EXPECT_EQ(r.text, c.text) << c.line;
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos)
          << c.line << ": " << error;
    }
  }
}

// Every generated value fits the sample till's columns (the road test reads
// receipts back through the engines).
// A stop that comes while a record is being stored ends the next wait for
// input at once, though the pipe's writer stays open (in a child process:
// the stop is for the whole process; the alarm ends a wait that hangs).
TEST(Records, AStopEndsTheWaitForInput) {
  EXPECT_EXIT(
      {
        int p[2];
        if (pipe(p) != 0 || write(p[1], "a\n", 2) != 2) _exit(2);
        LineReader reader(p[0]);
        std::string line;
        bool too_long = false;
        if (!reader.Next(line, too_long) || line != "a") _exit(3);
        RequestStop();
        alarm(5);
        _exit(reader.Next(line, too_long) ? 4 : 0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(Records, GeneratedReceiptsFitTheirColumns) {
  ReceiptGenerator gen(3);
  for (int i = 0; i < 2000; ++i) {
    const Receipt r = gen.Next();
    EXPECT_LE(r.total.size(), 20u);
    EXPECT_LE(r.cashier.size(), 30u);
    for (const Receipt::Item& item : r.items) {
      EXPECT_LE(item.name.size(), 40u);
      EXPECT_LE(item.price.size(), 10u);
    }
  }
}

TEST(Records, BatchesSplitOnlyBetweenStatements) {
  const std::vector<std::string> want = {
      "INSERT INTO A VALUES ('x\ny', 'it''s')", "DELETE FROM [B]"};
  EXPECT_EQ(Statements("\n" + want[0] + "\n\n" + want[1] + "\n"), want);
  EXPECT_EQ(Escaped("O'Neil \\ x", false), "O''Neil \\ x");
  EXPECT_EQ(Escaped("O'Neil \\ x", true), "O''Neil \\\\ x");
}

// A batch whose COMMIT lost its connection is found by its ids and the
// texts written under them: a batch that never committed may have had its
// ids given again, to other records.
TEST(Records, LostBatchIsFoundByItsIdsAndTexts) {
  using Outcome = Recovery::Outcome;
  std::string error;
  auto db = OpenSqlite(":memory:", true, error);
  ASSERT_TRUE(db && db->Execute("CREATE TABLE T (f_id INTEGER, f_text TEXT)"));
  for (int id = 1; id <= 1003; id = id == 501 ? 1001 : id + 1) {
    const std::string text = id > 1000 ? "other" : "r" + std::to_string(id);
    ASSERT_TRUE(db->Execute("INSERT INTO T VALUES (" + std::to_string(id) +
                            ", '" + text + "')"));
  }
  const struct {
    long long first;
    size_t count;
    std::string table;
    Outcome want;
  } cases[] = {
      {1, 501, "T", Outcome::kCommitted},  // more ids than one IN list
      {1, 0, "T", Outcome::kCommitted},
      {2001, 3, "T", Outcome::kNotCommitted},
      {1001, 3, "T", Outcome::kNotCommitted},  // the ids hold other records
      {500, 4, "T", Outcome::kUnknown},        // two there, two not
      {1, 3, "Missing", Outcome::kUnknown},
  };
  for (const auto& c : cases) {
    std::vector<long long> ids;
    std::vector<Record> records(c.count);
    std::vector<const Record*> pointers;
    for (size_t i = 0; i < c.count; ++i) {
      ids.push_back(c.first + static_cast<long long>(i));
      records[i].text = "r" + std::to_string(ids.back());
      pointers.push_back(&records[i]);
    }
    EXPECT_EQ(FindBatch(*db, c.table, ids, pointers), c.want)
        << c.first << " +" << c.count << " in " << c.table;
  }
}

}  // namespace
}  // namespace qmhost
