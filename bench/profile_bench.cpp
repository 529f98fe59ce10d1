// LoadData of a device with 100 user-table definitions and 50 item-search
// definitions (about 1000 keys): through the caching POSIX platform, against
// a baseline that reads and parses the file for every key.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <memory>
#include <string>

#include "frame/datastore.h"
#include "platform/posix_platform.h"
#include "platform/profile_document.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

std::string DeviceFile() {
  std::string s =
      "[GENERAL]\nDATABASE=1\nDBTYPE=2\nDBSERVER=sqlhost\nDBNAME=quillmore\n"
      "USER=recorder\nPWD=secret\n[XML]\nUSEPARSER=1\nXSLT=/opt/x.xsl\n"
      "USEUSERTABLE=1\n[USERTABLE]\nLEN=100\n";
  std::string groups;
  for (int i = 1; i <= 100; ++i) {
    const std::string n = std::to_string(i);
    const bool group = i % 10 == 0;
    s += "CHILDLEN" + n + "=" + (group ? "3" : "0") + "\n";
    s += "ELEMENT" + n + "=element" + n + "\n";
    if (!group) {
      s += "FIELDTYPE" + n + "=1\nFIELDLEN" + n + "=" + std::to_string(i + 20) +
           "\n";
      continue;
    }
    groups += "[ELEMENT" + n + "]\n";
    for (int j = 1; j <= 3; ++j) {
      const std::string m = std::to_string(j);
      groups += "ELEMENT" + m + "=attr" + m + "\nFIELDTYPE" + m +
                "=1\nFIELDLEN" + m + "=40\n";
    }
  }
  s += groups + "[ITEMSEARCH]\nLEN=50\n";
  std::string sections;
  for (int k = 1; k <= 50; ++k) {
    const std::string n = std::to_string(k);
    s += "S" + n + "=item" + n + "\n";
    sections += "[S" + n + "]\nTYPE=" + std::to_string(k % 3) + "\n";
    sections += "ELEMENT=e" + n + "\nATTRIBUTE=a\nCOMPARETYPE=0\n";
    sections += "TABLE=USR_E" + n + "\nFIELD=f_x\n";
    sections += "SPLIT=-1\nKEYWORD=kw\nNOKEYWORD=nk\n";
    sections += "DEFINEDVALUE=\nPREITEMID=0\nFINDNUMBER=1\nFINDTYPE=2\n";
  }
  return s + sections;
}

// Every profile read opens, reads and parses the file: no cache.
class ParsePerKey : public PlatformWrapper {
 public:
  using PlatformWrapper::PlatformWrapper;
  std::string ProfileString(const std::string& path, const std::string& section,
                            const std::string& key, const std::string& def,
                            std::size_t size) override {
    if (size == 0) return {};
    const ProfileDocument doc(ReadPrefix(path, SIZE_MAX).value_or(""));
    std::optional<std::string_view> v = doc.Find(section, key);
    const std::string_view text =
        (v && !v->empty()) ? *v : std::string_view(def);
    return std::string(text.substr(0, size - 1));
  }
  std::int32_t ProfileInt(const std::string& path, const std::string& section,
                          const std::string& key, std::int32_t def) override {
    const ProfileDocument doc(ReadPrefix(path, SIZE_MAX).value_or(""));
    std::optional<std::string_view> v = doc.Find(section, key);
    if (!v || v->empty()) return def;
    return static_cast<std::int32_t>(std::strtol(std::string(*v).c_str(),
                                                 nullptr, 10));
  }
};

// Puts the file's time stamp `seconds` back (0: now).
void Stamp(const std::string& path, int seconds) {
  struct timespec t[2];
  ::clock_gettime(CLOCK_REALTIME, &t[0]);
  t[0].tv_sec -= seconds;
  t[1] = t[0];
  ::utimensat(AT_FDCWD, path.c_str(), t, 0);
}

void LoadLoop(benchmark::State& state, Platform& platform,
              const std::string& path, bool recent) {
  auto* posix = static_cast<PosixPlatform*>(DefaultPlatform());
  DataStore store(&platform);
  const std::size_t parses = posix->parse_count();
  for (auto _ : state) {
    if (recent) {
      state.PauseTiming();
      Stamp(path, 0);  // changed a moment ago, as far as anyone can tell
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(store.LoadData(1));
    store.UnloadData();
  }
  state.counters["parses"] =
      static_cast<double>(posix->parse_count() - parses);
}

// A settled file, as in normal use: one stat per key.
void BM_LoadDataCached(benchmark::State& state) {
  TestInstallation inst;
  inst.Write("devdata1.ini", DeviceFile());
  Stamp(inst.ConfigPath(1), 3600);
  LoadLoop(state, inst.platform(), inst.ConfigPath(1), false);
}
BENCHMARK(BM_LoadDataCached)->Unit(benchmark::kMicrosecond);

// A file changed moments ago: its bytes are compared on each read.
void BM_LoadDataCachedRecentFile(benchmark::State& state) {
  TestInstallation inst;
  inst.Write("devdata1.ini", DeviceFile());
  LoadLoop(state, inst.platform(), inst.ConfigPath(1), true);
}
BENCHMARK(BM_LoadDataCachedRecentFile)->Unit(benchmark::kMicrosecond);

// Baseline: the file parsed for every key.
void BM_LoadDataParsePerKey(benchmark::State& state) {
  TestInstallation inst;
  inst.Write("devdata1.ini", DeviceFile());
  Stamp(inst.ConfigPath(1), 3600);
  ParsePerKey baseline(&inst.platform());
  LoadLoop(state, baseline, inst.ConfigPath(1), false);
}
BENCHMARK(BM_LoadDataParsePerKey)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quillmore
