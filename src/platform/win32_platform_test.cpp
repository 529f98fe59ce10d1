#include "platform/win32_platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/profile_encoding.h"
#include "platform/win32_api.h"
#include "platform/win32_files.h"
#include "testing/profile_rounds.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

using testing::RoundKey;
using testing::RoundSection;
using Names = std::vector<std::string>;

// Names of temporary files our writers left in `folder`.
Names Temporaries(const std::string& folder) {
  Names out;
  WIN32_FIND_DATAA f;
  HANDLE h = ::FindFirstFileA((folder + "\\.*.tmp*").c_str(), &f);
  for (bool more = h != INVALID_HANDLE_VALUE; more;
       more = ::FindNextFileA(h, &f)) {
    out.push_back(f.cFileName);
  }
  if (h != INVALID_HANDLE_VALUE) ::FindClose(h);
  return out;
}

// Read anew: every writer's every key holds its last round.
void ExpectEveryKey(const std::string& path, int writers, int keys, int last) {
  Win32Platform fresh;
  for (int w = 0; w < writers; ++w) {
    for (int k = 0; k < keys; ++k) {
      EXPECT_EQ(fresh.ProfileInt(path, RoundSection(w), RoundKey(w, k), -1),
                last)
          << RoundKey(w, k);
    }
  }
}

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

// What Windows' own profile functions read from a file is what we read,
// values of Unicode files included (in the ANSI code page); and a file
// parsed once is parsed again only when it changes.
TEST(Win32PlatformTest, ReadsAsTheProfileFunctionsDo) {
  TestInstallation inst;
  Win32Platform p;
  const std::string path = inst.dv() + "\\n.ini";
  const std::string unicode = "[N]\r\nu=caf\xC3\xA9 \xE2\x82\xAC\r\na=0x10\r\n";
  for (const std::string& text :
       {std::string("[N]\r\na=12abc\r\nb= -0x10\r\nc='0b101'\r\nd=\r\n"
                    "e=99999999999\r\nu=caf\xE9\r\nq=\" x \"\r\n"),
        "\xEF\xBB\xBF" + unicode, "\xFF\xFE" + Utf8ToUtf16(unicode, false),
        "\xFE\xFF" + Utf8ToUtf16(unicode, true)}) {
    inst.Write("n.ini", text);
    for (const char* key : {"a", "b", "c", "d", "e", "u", "q", "zz"}) {
      char want[64];
      ::GetPrivateProfileStringA("N", key, "", want, sizeof want, path.c_str());
      EXPECT_EQ(p.ProfileString(path, "N", key, "", 64), want) << key << text;
      EXPECT_EQ(p.ProfileInt(path, "N", key, 99),
                static_cast<std::int32_t>(
                    ::GetPrivateProfileIntA("N", key, 99, path.c_str())));
    }
  }
  EXPECT_EQ(p.ProfileString(path, "N", "a", "", 3), "0x");
  EXPECT_EQ(p.ProfileString(path, "N", "a", "", 0), "");
  const std::size_t parsed = p.parse_count();
  EXPECT_EQ(p.ProfileInt(path, "N", "a", -1), 16);
  EXPECT_EQ(p.parse_count(), parsed);
  inst.Write("n.ini", "[N]\r\na=0x11\r\n");  // at once, in the same tick
  EXPECT_EQ(p.ProfileInt(path, "N", "a", -1), 17);
  inst.Remove("n.ini");
  EXPECT_EQ(p.ProfileString(path, "N", "a", "gone", 9), "gone");
  EXPECT_FALSE(inst.Exists("n.ini"));
}

TEST(Win32PlatformTest, WritesInPlaceAndNeverLosesTheFile) {
  TestInstallation inst;
  Win32Platform p;
  const std::string path = inst.dv() + "\\w.ini";
  p.WriteProfileString(path, "A", "k", "v");
  EXPECT_EQ(inst.Read("w.ini"), "[A]\r\nk=v\r\n");
  const std::string original = "; keep me\n[A]\nk=1\n\n[B]\nj=2\n";
  inst.Write("w.ini", original);
  FileIdentity before, after;
  ASSERT_EQ(StatIdentity(path, before), FileStatus::kPresent);
  p.WriteProfileString(path, "a", "K", "1");  // the value it has
  ASSERT_EQ(StatIdentity(path, after), FileStatus::kPresent);
  EXPECT_EQ(after, before);

  // A failing write, flush or move leaves the file and no temporary file.
  const Win32Calls real = Win32FileCalls();
  const Win32Calls failing[] = {
      {[](HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) { return FALSE; },
       real.flush, real.move, real.message_box},
      {real.write_file, [](HANDLE) { return FALSE; }, real.move,
       real.message_box},
      {real.write_file, real.flush, [](LPCSTR, LPCSTR, DWORD) { return FALSE; },
       real.message_box}};
  for (const Win32Calls& calls : failing) {
    Win32FileCalls() = calls;
    p.WriteProfileString(path, "A", "k", "2");
    Win32FileCalls() = real;
    EXPECT_EQ(inst.Read("w.ini"), original);
    EXPECT_EQ(p.ProfileInt(path, "A", "k", -1), 1);
    EXPECT_EQ(Temporaries(inst.dv()), Names());
  }
  p.WriteProfileString(path, "A", "k", "2");
  p.WriteProfileString(path, "A", "n", "x\r\nEVIL=1");
  EXPECT_EQ(inst.Read("w.ini"), "; keep me\n[A]\nk=2\nn=x\n\n[B]\nj=2\n");
  EXPECT_EQ(Temporaries(inst.dv()), Names());
  // No folder: nothing is made, nothing breaks.
  p.WriteProfileString(inst.dir() + "\\nofolder\\x.ini", "A", "k", "v");
  EXPECT_FALSE(p.FileExists(inst.dir() + "\\nofolder"));
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
    ExpectEveryKey(path, 3, 12, 2);
  }
}

TEST(Win32PlatformTest, KilledWriterLeavesAWholeFile) {
  TestInstallation inst;
  const std::string path = inst.dv() + "\\k.ini";
  constexpr int kKeys = 8;
  Win32Platform seed;
  testing::WriteRounds(seed, path, 0, 1, kKeys);  // every key "0"
  std::mt19937 rng(12345);
  int changed = 0;  // the writer got somewhere before it was killed
  for (int round = 0; round < 8; ++round) {
    ASSERT_EQ(
        RunWriter(path, "forever " + std::to_string(kKeys), 300 + rng() % 700),
        9u);
    Win32Platform reader;
    for (int k = 0; k < kKeys; ++k) {
      const std::string v =
          reader.ProfileString(path, RoundSection(0), RoundKey(0, k), "", 64);
      const unsigned long n = std::strtoul(v.c_str(), nullptr, 10);
      ASSERT_TRUE(v == "0" || (v == testing::GrowingValue(n) &&
                               n % kKeys == static_cast<unsigned>(k)))
          << RoundKey(0, k) << "=" << v;
      changed += v != "0";
    }
  }
  EXPECT_GT(changed, 0);
  // A later writer removes what the killed ones left, once it is old.
  const FILETIME long_ago = {0, 0x01000000};
  for (const std::string& name : Temporaries(inst.dv())) {
    HANDLE h =
        ::CreateFileA((inst.dv() + "\\" + name).c_str(), FILE_WRITE_ATTRIBUTES,
                      0, nullptr, OPEN_EXISTING, 0, nullptr);
    ::SetFileTime(h, nullptr, nullptr, &long_ago);
    ::CloseHandle(h);
  }
  seed.WriteProfileString(path, "K", "after", "1");
  EXPECT_EQ(Temporaries(inst.dv()), Names());
}

TEST(Win32PlatformTest, CopiesThroughATemporaryFileAndReadsPrefixes) {
  TestInstallation inst;
  Win32Platform p;
  const std::string dv = inst.dv();
  inst.Write("from.tmp", "[T]\r\n");
  inst.Write("have.ini", "[H]\r\n");
  EXPECT_FALSE(p.CopyFileIfMissing(dv + "\\from.tmp", dv + "\\have.ini"));
  EXPECT_TRUE(p.CopyFileIfMissing(dv + "\\from.tmp", dv + "\\new.ini"));
  EXPECT_EQ(inst.Read("have.ini") + inst.Read("new.ini"), "[H]\r\n[T]\r\n");
  EXPECT_TRUE(p.CopyFile(dv + "\\from.tmp", dv + "\\have.ini"));
  // A missing template replaces nothing.
  EXPECT_FALSE(p.CopyFile(dv + "\\none.tmp", dv + "\\have.ini"));
  EXPECT_EQ(inst.Read("have.ini"), "[T]\r\n");
  EXPECT_EQ(Temporaries(dv), Names());
  EXPECT_TRUE(p.DeleteFile(dv + "\\have.ini"));
  EXPECT_FALSE(p.FileExists(dv + "\\have.ini"));
  inst.Write("big.sql", std::string(3000, 'a'));
  EXPECT_EQ(p.ReadPrefix(dv + "\\big.sql", 2048), std::string(2048, 'a'));
  EXPECT_EQ(p.ReadPrefix(dv + "\\none.sql", 2048), std::nullopt);
  EXPECT_EQ(p.ReadPrefix(dv, 2048), std::nullopt);
}

TEST(Win32PlatformTest, IsReadableAsksVirtualQueryAndNeverFaults) {
  Win32Platform p;
  SYSTEM_INFO si;
  ::GetSystemInfo(&si);
  const std::size_t page = si.dwPageSize;
  // Pages: read/write, no access, guard, read/write, reserved only.
  auto* mem = static_cast<char*>(
      ::VirtualAlloc(nullptr, 5 * page, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(::VirtualAlloc(mem, 4 * page, MEM_COMMIT, PAGE_READWRITE), nullptr);
  DWORD was;
  ASSERT_TRUE(::VirtualProtect(mem + page, page, PAGE_NOACCESS, &was));
  ASSERT_TRUE(::VirtualProtect(mem + 2 * page, page,
                               PAGE_READWRITE | PAGE_GUARD, &was));
  void* freed = ::VirtualAlloc(nullptr, page, MEM_COMMIT, PAGE_READWRITE);
  ASSERT_TRUE(::VirtualFree(freed, 0, MEM_RELEASE));
  const struct {
    const void* p;
    std::size_t size;
    bool want;
  } cases[] = {
      {nullptr, 1, false},  // 0
      {mem + page, 0, true},
      {mem, page, true},
      {mem + page - 1, 2, false},  // runs into no access
      {mem + page, 1, false},
      {mem + 2 * page, 1, false},  // 5: guard page
      {mem + 3 * page, page, true},
      {mem + 4 * page - 1, 2, false},  // runs off into reserved
      {mem + 4 * page, 1, false},
      {freed, 1, false},
      {mem, SIZE_MAX / 2, false},  // 10
      {reinterpret_cast<const void*>(UINTPTR_MAX - 10), 100, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(p.IsReadable(c.p, c.size), c.want) << &c - cases;
  }
  // The guard page is still armed: nothing touched it.
  MEMORY_BASIC_INFORMATION info;
  ASSERT_NE(::VirtualQuery(mem + 2 * page, &info, sizeof info), 0u);
  EXPECT_NE(info.Protect & PAGE_GUARD, 0u);
  ::VirtualFree(mem, 0, MEM_RELEASE);
}

TEST(Win32PlatformTest, FolderSerialAndQuestion) {
  char exe[MAX_PATH], cwd[MAX_PATH];
  std::string want(exe, ::GetModuleFileNameA(nullptr, exe, MAX_PATH));
  want.resize(want.rfind('\\'));
  ASSERT_TRUE(::SetCurrentDirectoryA("C:\\"));
  Win32Platform p;
  EXPECT_EQ(p.ModuleDirectory(), want);
  EXPECT_EQ(std::string(cwd, ::GetCurrentDirectoryA(MAX_PATH, cwd)), want);
  DWORD serial = 0;
  ASSERT_TRUE(::GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr,
                                      nullptr, nullptr, 0));
  EXPECT_EQ(p.VolumeSerial(), serial);

  // The answer comes from the message box; a test puts its own in place.
  static std::string asked;
  static int answer;
  const Win32Calls real = Win32FileCalls();
  Win32FileCalls().message_box = [](HWND, LPCSTR text, LPCSTR, UINT type) {
    asked = text;
    return (type & MB_YESNO) == MB_YESNO ? answer : IDOK;
  };
  for (const int a : {IDYES, IDNO, 0}) {
    answer = a;
    EXPECT_EQ(p.AskYesNo("Replace?"), a == IDYES);
    EXPECT_EQ(asked, "Replace?");
  }
  Win32FileCalls() = real;
}

}  // namespace
}  // namespace quillmore
