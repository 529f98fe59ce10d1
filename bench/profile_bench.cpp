// Configuration files, each case beside its floor in the same iteration
// (the order alternating), with heap allocations counted:
//
// - LoadData + UnloadData of a device with 100 user-table and 100
//   item-search definitions as the library writes them (about 1,500 keys,
//   60 KB): through the profile cache (a settled file: one stat; a file
//   changed moments ago: its bytes compared; a file changed since the last
//   load: parsed again). Floor: read the file, parse it once into a hash
//   map per section, look every key up and build the same records.
// - SetItemSearchElement of the same 100 definitions (alternating two
//   lists, so every call changes the file). Floor: one atomic replace of
//   the same bytes (temporary file, write, fdatasync, rename).
// - LoadData of hostile files of about 1 MB (counts that name entries the
//   file doesn't hold, many unrelated keys). Floor: read the file and parse
//   it into hash maps.
//
// Reported per case: the medians of the library and the floor (lib_us,
// floor_us), their ratio, the ratio of this thread's processor times,
// allocations per call, and syncs per call.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/ascii.h"
#include "bench_pair.h"
#include "config/database_settings.h"
#include "frame/datastore.h"
#include "platform/posix_files.h"
#include "platform/system_platform.h"
#include "profile/profile_document.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

std::atomic<int> g_syncs{0};

int CountingSync(int fd) {
  g_syncs.fetch_add(1, std::memory_order_relaxed);
  return ::fdatasync(fd);
}

double NowUs() {
  return std::chrono::duration<double, std::micro>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// This thread's processor time: steadier than the clock on a busy machine.
double CpuUs() {
  struct timespec t;
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 +
         static_cast<double>(t.tv_nsec) * 1e-3;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// Runs the library's call and the floor in every iteration, `prepare`
// before each (untimed); the benchmark's own time is the library's.
void Pair(benchmark::State& state, const std::function<void()>& prepare,
          const std::function<void()>& lib,
          const std::function<void()>& floor) {
  struct Side {
    std::vector<double> us, cpu_us;
    std::size_t allocs = 0;
    void Time(const std::function<void()>& f) {
      const std::size_t a = g_allocations.load();
      const double t = NowUs(), c = CpuUs();
      f();
      cpu_us.push_back(CpuUs() - c);
      us.push_back(NowUs() - t);
      allocs += g_allocations.load() - a;
    }
  } l, f;
  const int syncs = g_syncs.load();
  for (auto _ : state) {
    prepare();
    if (l.us.size() % 2 == 0) {
      l.Time(lib);
      f.Time(floor);
    } else {
      f.Time(floor);
      l.Time(lib);
    }
    state.SetIterationTime(l.us.back() * 1e-6);
  }
  const double n = static_cast<double>(l.us.size());
  state.counters["lib_us"] = Median(l.us);
  state.counters["floor_us"] = Median(f.us);
  state.counters["ratio"] = Median(l.us) / Median(f.us);
  state.counters["lib_cpu_us"] = Median(l.cpu_us);
  state.counters["floor_cpu_us"] = Median(f.cpu_us);
  state.counters["cpu_ratio"] = Median(l.cpu_us) / Median(f.cpu_us);
  state.counters["lib_allocs"] = static_cast<double>(l.allocs) / n;
  state.counters["floor_allocs"] = static_cast<double>(f.allocs) / n;
  state.counters["syncs"] = (g_syncs.load() - syncs) / n;
}

// ---- The floor: one parse into hash maps, then lookups --------------------

using Section = std::unordered_map<std::string, std::string>;
using Ini = std::unordered_map<std::string, Section>;

std::string ReadWhole(const std::string& path) {
  std::string bytes;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0) return bytes;
  if (::fstat(fd, &st) == 0) {
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
  }
  ::close(fd);
  return bytes;
}

Ini Parse(const std::string& text) {
  Ini ini;
  Section* current = nullptr;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    const std::string_view line =
        Trim(std::string_view(text).substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[' && line.find(']') != std::string_view::npos) {
      auto [it, fresh] = ini.try_emplace(
          AsciiUpper(std::string(Trim(line.substr(1, line.rfind(']') - 1)))));
      current = fresh ? &it->second : nullptr;
      continue;
    }
    const std::size_t eq = line.find('=');
    if (current == nullptr || eq == std::string_view::npos) continue;
    current->try_emplace(AsciiUpper(std::string(Trim(line.substr(0, eq)))),
                         Trim(line.substr(eq + 1)));
  }
  return ini;
}

struct FloorReader {
  const Ini& ini;
  const Section* Of(const std::string& section) const {
    auto it = ini.find(section);
    return it == ini.end() ? nullptr : &it->second;
  }
  const std::string* Get(const Section* s, const std::string& key) const {
    if (s == nullptr) return nullptr;
    auto it = s->find(key);
    return it == s->end() || it->second.empty() ? nullptr : &it->second;
  }
  std::int32_t Int(const Section* s, const std::string& key,
                   std::int32_t def = 0) const {
    const std::string* v = Get(s, key);
    return v ? static_cast<std::int32_t>(std::strtoll(v->c_str(), nullptr, 10))
             : def;
  }
  template <std::size_t N>
  void Text(const Section* s, const std::string& key, char (&field)[N]) const {
    const std::string* v = Get(s, key);
    const std::size_t n = v ? std::min(v->size(), N - 1) : 0;
    if (v) std::memcpy(field, v->data(), n);
    field[n] = '\0';
  }
};

struct FloorRecords {
  DeviceConfig config;
  std::vector<_tagUSERTABLEINFO> tables;
  std::vector<std::vector<_tagUSERTABLEINFO>> children;
  std::vector<_tagITEMSEARCHINFO> items;
};

// The load's records, built from one parse.
FloorRecords FloorLoad(const std::string& path) {
  const Ini ini = Parse(ReadWhole(path));
  const FloorReader r{ini};
  FloorRecords out;
  const Section* general = r.Of("GENERAL");
  out.config.useDatabase =
      static_cast<std::uint8_t>(r.Int(general, "DATABASE"));
  out.config.databaseType = static_cast<std::uint8_t>(r.Int(general, "DBTYPE"));
  for (auto [key, field] : {std::pair{"DBSERVER", &out.config.databaseServer},
                            std::pair{"DBNAME", &out.config.databaseName},
                            std::pair{"DBPATH", &out.config.databasePath},
                            std::pair{"USER", &out.config.user},
                            std::pair{"PWD", &out.config.password}}) {
    if (const std::string* v = r.Get(general, key)) *field = v->substr(0, 255);
  }
  const Section* table = r.Of("USERTABLE");
  const int count = r.Int(table, "LEN");
  out.tables.resize(static_cast<std::size_t>(count));
  out.children.resize(static_cast<std::size_t>(count));
  for (int i = 1; i <= count; ++i) {
    const std::string n = std::to_string(i);
    _tagUSERTABLEINFO& t = out.tables[static_cast<std::size_t>(i - 1)];
    t.dwChildLen = static_cast<std::uint8_t>(r.Int(table, "CHILDLEN" + n));
    r.Text(table, "ELEMENT" + n, t.szElement);
    if (t.dwChildLen == 0) {
      t.byFieldType = static_cast<std::uint8_t>(r.Int(table, "FIELDTYPE" + n));
      t.dwFieldLen = r.Int(table, "FIELDLEN" + n);
      continue;
    }
    auto& kids = out.children[static_cast<std::size_t>(i - 1)];
    kids.resize(t.dwChildLen);
    const Section* group = r.Of("ELEMENT" + n);
    for (std::uint32_t j = 1; j <= t.dwChildLen; ++j) {
      const std::string m = std::to_string(j);
      r.Text(group, "ELEMENT" + m, kids[j - 1].szElement);
      kids[j - 1].byFieldType =
          static_cast<std::uint8_t>(r.Int(group, "FIELDTYPE" + m));
      kids[j - 1].dwFieldLen = r.Int(group, "FIELDLEN" + m);
    }
    t.pChild = kids.data();
  }
  const Section* list = r.Of("ITEMSEARCH");
  const int items = r.Int(list, "LEN");
  out.items.resize(static_cast<std::size_t>(items));
  for (int k = 1; k <= items; ++k) {
    const std::string name = "S" + std::to_string(k);
    _tagITEMSEARCHINFO& it = out.items[static_cast<std::size_t>(k - 1)];
    r.Text(list, name, it.szName);
    const Section* s = r.Of(name);
    it.byType = static_cast<std::uint8_t>(r.Int(s, "TYPE"));
    if (it.byType == 0) {
      r.Text(s, "ELEMENT", it.szElement);
      r.Text(s, "ATTRIBUTE", it.szAttribute);
      it.byCompareType = static_cast<std::uint8_t>(r.Int(s, "COMPARETYPE"));
    } else if (it.byType == 1) {
      r.Text(s, "TABLE", it.szTable);
      r.Text(s, "FIELD", it.szField);
    } else {
      it.nSplit = static_cast<std::int16_t>(r.Int(s, "SPLIT", -1));
      r.Text(s, "KEYWORD", it.szKeyword);
      r.Text(s, "NOKEYWORD", it.szNoKeyword);
    }
    r.Text(s, "DEFINEDVALUE", it.szDefinedValue);
    it.nPreItemId = static_cast<std::int16_t>(r.Int(s, "PREITEMID"));
    it.dwFindNumber = r.Int(s, "FINDNUMBER");
    it.nFindType = static_cast<std::int16_t>(r.Int(s, "FINDTYPE"));
  }
  return out;
}

// ---- The device ------------------------------------------------------------

template <std::size_t N>
void Put(char (&field)[N], const std::string& s) {
  std::snprintf(field, N, "%s", s.c_str());
}

// 100 item-search definitions of the three kinds; `variant` changes a value
// of each, `shift` the kinds.
std::vector<_tagITEMSEARCHINFO> Items(int variant, int shift = 0) {
  std::vector<_tagITEMSEARCHINFO> items(100);
  for (int k = 0; k < 100; ++k) {
    _tagITEMSEARCHINFO& it = items[static_cast<std::size_t>(k)];
    const std::string n = std::to_string(k + 1);
    // Names and values near their 49 characters: a file of about 60 KB.
    Put(it.szName, "Search item number " + n + " of the till by the door");
    it.byType = static_cast<std::uint8_t>((k + shift) % 3);
    Put(it.szElement, "ReceiptLineElementWithAVeryLongNameNumber" + n);
    Put(it.szAttribute, "the_attribute_of_the_receipt_line_element_" + n);
    Put(it.szTable, "USR_RECEIPTLINEELEMENTWITHAVERYLONGNAME1_1A2B3C4D");
    Put(it.szField, "f_receiptlineelementwithaverylongnamenumber" + n);
    it.nSplit = static_cast<std::int16_t>(k % 4);
    Put(it.szKeyword, "A KEYWORD NUMBER " + n + " THAT THE TEXT MUST HOLD");
    Put(it.szNoKeyword, "A WORD THAT THE TEXT MUST NOT HOLD: VOID " + n);
    Put(it.szDefinedValue, "the defined value of item number " + n + " is " +
                               (variant != 0 ? "b" : "a"));
    it.dwFindNumber = k % 2;
    it.nFindType = 1;
    it.nPreItemId = static_cast<std::int16_t>(k % 5);
  }
  return items;
}

// The device as the library writes it: GENERAL, XML, 100 user-table
// definitions (every tenth a group of three) and 100 items, each of which
// was of every kind once (its section holds the keys of all three).
void WriteDevice(TestInstallation& inst) {
  DataStore store(&inst.platform());
  store.LoadData(1);
  inst.Write("devdata.tmp", "");
  store.SetUseDatabase(1, 1, 2, "sqlhost.example.org", "quillmore_records",
                       "recorder", "secret");
  store.SetXmlParserFile(1, "/opt/quillmore/stylesheets/till.xsl");
  std::vector<_tagUSERTABLEINFO> tables(100), kids(3);
  for (int j = 0; j < 3; ++j)
    Put(kids[j].szElement,
        "attribute_of_the_group_element_number_" + std::to_string(j));
  for (int i = 0; i < 100; ++i) {
    _tagUSERTABLEINFO& t = tables[static_cast<std::size_t>(i)];
    Put(t.szElement,
        "ReceiptLineElementWithAVeryLongNameNumber" + std::to_string(i + 1));
    t.dwFieldLen = 40;
    if (i % 10 == 9) {
      t.dwChildLen = 3;
      t.pChild = kids.data();
    }
  }
  store.SetUserTableElements(1, tables.data(), 100);
  for (int shift : {2, 1, 0}) {
    std::vector<_tagITEMSEARCHINFO> items = Items(0, shift);
    store.SetItemSearchElement(1, items.data(), 100);
  }
}

// Puts the file's time stamps `seconds` back.
void Age(const std::string& path, int seconds) {
  struct timespec t[2];
  ::clock_gettime(CLOCK_REALTIME, &t[0]);
  t[0].tv_sec -= seconds;
  t[1] = t[0];
  ::utimensat(AT_FDCWD, path.c_str(), t, 0);
}

// The POSIX platform in the test installation: a fresh one has no cache.
struct Installed : SystemPlatform {
  explicit Installed(std::string d) : dir(std::move(d)) {}
  std::string EnterModuleDirectory() override { return dir; }
  std::uint32_t VolumeSerial() override { return 0x1A2B3C4D; }
  std::string dir;
};

// 0: a settled file (one stat); 1: changed moments ago (bytes compared);
// 2: changed since the last load (parsed again).
void BM_LoadData(benchmark::State& state) {
  TestInstallation inst;
  WriteDevice(inst);
  const std::string path = inst.ConfigPath(1);
  std::string bytes = inst.Read("devdata1.ini");
  state.counters["file_bytes"] = static_cast<double>(bytes.size());
  Installed platform(inst.dir());
  DataStore store(&platform);
  const int variant = static_cast<int>(state.range(0));
  int round = 0;
  // The password's last letter, upper and lower case in turn.
  const std::size_t letter = bytes.find("PWD=secret") + 9;
  Age(path, 3600);
  Pair(
      state,
      [&] {
        if (variant == 1) Age(path, 0);
        if (variant == 2) {  // one byte of a value, back and forth
          bytes[letter] = ++round % 2 ? 'T' : 't';
          inst.Write("devdata1.ini", bytes);
        }
      },
      [&] {
        benchmark::DoNotOptimize(store.LoadData(1));
        // Every load finds the whole device, as the floor does.
        if (store.GetItemSearchElementsCount(1) != 100 ||
            store.GetUserTableElementsCount(1) != 100 ||
            store.GetDatabaseType() != 2)
          state.SkipWithError("the device did not load");
        store.UnloadData();
      },
      [&] { benchmark::DoNotOptimize(FloorLoad(path)); });
  state.SetLabel(variant == 0   ? "settled"
                 : variant == 1 ? "recent"
                                : "changed");
}
BENCHMARK(BM_LoadData)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

void BM_SetItemSearchElement(benchmark::State& state) {
  TestInstallation inst;
  WriteDevice(inst);
  Installed platform(inst.dir());
  DataStore store(&platform);
  std::vector<_tagITEMSEARCHINFO> lists[2] = {Items(0), Items(1)};
  const FileCalls real = PosixFileCalls();
  PosixFileCalls().fsync = CountingSync;
  const std::string floor_path = inst.dv() + "/floor.ini",
                    floor_tmp = inst.dv() + "/.floor.ini.tmp";
  std::string bytes;
  int round = 0;
  Pair(
      state,
      [&] {
        ++round;
        bytes = inst.Read("devdata1.ini");  // what the floor writes
      },
      [&] { store.SetItemSearchElement(1, lists[round % 2].data(), 100); },
      [&] {
        const int fd = ::open(floor_tmp.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (::write(fd, bytes.data(), bytes.size()) < 0 || ::fdatasync(fd) != 0)
          state.SkipWithError("floor write failed");
        ::close(fd);
        ::rename(floor_tmp.c_str(), floor_path.c_str());
      });
  PosixFileCalls() = real;
}
BENCHMARK(BM_SetItemSearchElement)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

std::string Lines(int n, const std::string& a, const std::string& b) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += a + std::to_string(i) + b;
  return s;
}

// Hostile files, each loaded by a platform without a cache: 0: LEN=65536
// and CHILDLEN<i>=255 for each (1.17 MB); 1: LEN=65536 and 100,000
// unrelated keys (0.9 MB); 2: 20,000 groups of 255 whose sections hold only
// ELEMENT255; 3: 65,536 items of which only the sections exist.
void BM_LoadHostile(benchmark::State& state) {
  const std::string head =
      "[GENERAL]\nDBTYPE=2\n[XML]\nUSEUSERTABLE=1\n[USERTABLE]\nLEN=65536\n";
  const std::string files[] = {
      head + Lines(65536, "CHILDLEN", "=255\n"),
      head + Lines(100000, "X", "=1\n"),
      head + Lines(20000, "CHILDLEN", "=255\n") +
          Lines(20000, "[ELEMENT", "]\nELEMENT255=x\n"),
      "[GENERAL]\nDBTYPE=2\n[ITEMSEARCH]\nLEN=65536\n" +
          Lines(65536, "[S", "]\nTYPE=2\n"),
  };
  const std::string& file = files[state.range(0)];
  TestInstallation inst;
  inst.Write("devdata1.ini", file);
  state.counters["file_bytes"] = static_cast<double>(file.size());
  std::unique_ptr<Installed> platform;
  std::unique_ptr<DataStore> store;
  Pair(
      state,
      [&] {
        store.reset();
        platform = std::make_unique<Installed>(inst.dir());
        store = std::make_unique<DataStore>(platform.get());
      },
      [&] {
        benchmark::DoNotOptimize(store->LoadData(1));
        store->UnloadData();
      },
      [&] { benchmark::DoNotOptimize(Parse(ReadWhole(inst.ConfigPath(1)))); });
}
BENCHMARK(BM_LoadHostile)
    ->DenseRange(0, 3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace
}  // namespace quillmore
