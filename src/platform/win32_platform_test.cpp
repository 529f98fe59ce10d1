#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/system_platform.h"
#include "platform/win32_api.h"
#include "testing/profile_rounds.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

using testing::RoundKey;
using testing::RoundSection;

// Runs the writer program beside this one on `path` with `args`, killing
// it after `kill_ms`; its exit code.
DWORD RunWriter(const std::string& path, const std::string& args,
                DWORD kill_ms = INFINITE) {
  char exe[MAX_PATH];
  std::string cmd(exe, ::GetModuleFileNameA(nullptr, exe, MAX_PATH));
  cmd = "\"" + cmd.substr(0, cmd.rfind('\\')) +
        "\\win32_profile_writer.exe\" \"" + path + "\" " + args;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &si, &pi)) {
    return 99;
  }
  if (::WaitForSingleObject(pi.hProcess, kill_ms) == WAIT_TIMEOUT) {
    ::TerminateProcess(pi.hProcess, 9);
    ::WaitForSingleObject(pi.hProcess, INFINITE);
  }
  DWORD code = 99;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);
  return code;
}

TEST(Win32PlatformTest, ThreadsAndProcessesWritingOneFileKeepEveryKey) {
  TestInstallation inst;
  for (const bool processes : {false, true}) {
    const std::string path = inst.dv() + (processes ? "\\p.ini" : "\\t.ini");
    std::vector<std::thread> writers;
    for (int w = 0; w < 3; ++w) {
      writers.emplace_back([&path, w, processes] {
        if (processes) {
          EXPECT_EQ(RunWriter(path, std::to_string(w) + " 3 12"), 0u);
        } else {
          testing::WriteRounds(*DefaultPlatform(), path, w, 3, 12);
        }
      });
    }
    for (std::thread& w : writers) w.join();
    // Read anew: every writer's every key holds its last round.
    const ProfileSnapshot s = SystemPlatform().ReadProfile(path);
    for (int w = 0; w < 3; ++w) {
      for (int k = 0; k < 12; ++k)
        EXPECT_EQ(s.document->FindInt(RoundSection(w), RoundKey(w, k)), 2)
            << RoundKey(w, k);
    }
  }
}

TEST(Win32PlatformTest, KilledWriterLeavesAWholeFile) {
  TestInstallation inst;
  const std::string path = inst.dv() + "\\k.ini";
  constexpr int kKeys = 8;
  SystemPlatform seed;
  testing::WriteRounds(seed, path, 0, 1, kKeys);  // every key "0"
  std::mt19937 rng(12345);
  int changed = 0;  // the writer got somewhere before it was killed
  for (int round = 0; round < 8; ++round) {
    ASSERT_EQ(
        RunWriter(path, "forever " + std::to_string(kKeys), 300 + rng() % 700),
        9u);
    const ProfileSnapshot s = SystemPlatform().ReadProfile(path);
    for (int k = 0; k < kKeys; ++k) {
      const std::string v(
          s.document->Find(RoundSection(0), RoundKey(0, k)).value_or(""));
      const unsigned long n = std::strtoul(v.c_str(), nullptr, 10);
      ASSERT_TRUE(v == "0" || (v == testing::GrowingValue(n) &&
                               n % kKeys == static_cast<unsigned>(k)))
          << RoundKey(0, k) << "=" << v;
      changed += v != "0";
    }
  }
  EXPECT_GT(changed, 0);
}

}  // namespace
}  // namespace quillmore
