#include "platform/profile_store.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmore {
namespace {

// One file whose identity and clock the test sets: a rewrite within one
// tick of a coarse clock keeps the identity (kernels that stamp finely
// after a stat can't show that).
struct StillFiles : ProfileFiles {
  FileState Stat(const std::string&, Identity& out) override {
    return out = id, FileState::kPresent;
  }
  Contents Read(const std::string&, std::size_t) override {
    return {FileState::kPresent, id, bytes, 0644};
  }
  std::string WriteTarget(const std::string& path) override { return path; }
  std::unique_ptr<Lock> LockFolderOf(const std::string&) override {
    return std::make_unique<Lock>();
  }
  void RemoveStaleTemporaries(const std::string&) override { ++sweeps; }
  std::optional<Identity> Replace(const std::string&, std::string_view b,
                                  std::optional<std::uint32_t>) override {
    bytes = b;
    return id;
  }
  std::int64_t NowNs() override { return now; }
  Identity id{1, 2, 8, 1'000'000'000, 1'000'000'000};
  std::string bytes = "[K]\nk=1\n";
  std::int64_t now = 1'000'000'000;
  int sweeps = 0;
};

TEST(ProfileStoreTest, ARecentFileIsComparedUntilItsStampIsOld) {
  StillFiles files;
  ProfileStore store(files);
  auto k = [&] { return store.Read("f").document->FindInt("K", "k"); };
  std::string seen;
  // Changed within the settling time: the bytes tell, on every read.
  for (const char* v : {"[K]\nk=2\n", "[K]\nk=3\n"}) {
    files.bytes = v;
    seen += std::to_string(k().value_or(-1));
  }
  // A transaction's own write, with the identity unchanged.
  store.Edit("f", "", [](ProfileDocument& d) { d.Set("K", "k", "4"); });
  seen += std::to_string(k().value_or(-1));
  // Old enough: read once more, then trusted to its identity.
  files.now += 3'000'000'000;
  seen += std::to_string(k().value_or(-1));
  files.bytes = "[K]\nk=5\n";
  seen += std::to_string(k().value_or(-1));
  EXPECT_EQ(seen, "23444");
  EXPECT_EQ(store.parse_count(), 2u);
  // Leftovers of killed writers are looked for on the first write, then
  // once a minute has passed (or the clock went back).
  std::string sweeps;
  for (std::int64_t step : {0LL, 56LL, 1LL, -5LL}) {
    files.now += step * 1'000'000'000;
    store.Edit("f", "", [](ProfileDocument& d) { d.Set("K", "k", "6"); });
    sweeps += std::to_string(files.sweeps);
  }
  EXPECT_EQ(sweeps, "1123");
}

}  // namespace
}  // namespace quillmore
