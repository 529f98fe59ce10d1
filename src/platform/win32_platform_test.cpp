#include "platform/win32_platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32_api.h"
#include "platform/win32_files.h"
#include "testing/profile_rounds.h"
#include "testing/test_installation.h"

namespace quillmore {
namespace {

using testing::RoundKey;
using testing::RoundSection;

// Names of temporary files our writers leave in `folder`.
std::vector<std::string> Temporaries(const std::string& folder) {
  std::vector<std::string> out;
  WIN32_FIND_DATAA f;
  HANDLE h = ::FindFirstFileA((folder + "\\.*.tmp*").c_str(), &f);
  if (h == INVALID_HANDLE_VALUE) return out;
  do out.push_back(f.cFileName);
  while (::FindNextFileA(h, &f));
  ::FindClose(h);
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

// Starts the writer program that lies beside this test program.
HANDLE StartWriter(const std::string& args) {
  char exe[MAX_PATH];
  std::string cmd(exe, ::GetModuleFileNameA(nullptr, exe, MAX_PATH));
  cmd = "\"" + cmd.substr(0, cmd.rfind('\\')) +
        "\\win32_profile_writer.exe\" " + args;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &si, &pi)) {
    return nullptr;
  }
  ::CloseHandle(pi.hThread);
  return pi.hProcess;
}

DWORD ExitCode(HANDLE process) {
  DWORD code = 99;
  ::WaitForSingleObject(process, 120000);
  ::GetExitCodeProcess(process, &code);
  ::CloseHandle(process);
  return code;
}

// ASCII and two non-ASCII characters in UTF-16 with a byte-order mark.
std::string Utf16File(bool big_endian) {
  const std::wstring text = L"[N]\r\nu=caf\u00e9 \u20ac\r\na=0x10\r\n";
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (const wchar_t c : text) {
    const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c);
    out += big_endian ? hi : lo;
    out += big_endian ? lo : hi;
  }
  return out;
}

// What Windows' own profile functions read is what we read, values of
// Unicode files included (in the ANSI code page).
TEST(Win32PlatformTest, ReadsAsTheProfileFunctionsDo) {
  TestInstallation inst;
  Win32Platform p;
  const std::string path = inst.dv() + "\\n.ini";
  const std::string files[] = {
      "[N]\r\na=12abc\r\nb= -0x10\r\nc='0b101'\r\nd=\r\ne=99999999999\r\n"
      "u=caf\xE9\r\nq=\" x \"\r\n",
      "\xEF\xBB\xBF[N]\nu=caf\xC3\xA9 \xE2\x82\xAC\na=0o17\n", Utf16File(false),
      Utf16File(true)};
  for (const std::string& text : files) {
    SCOPED_TRACE(text);
    inst.Write("n.ini", text);
    for (const char* key : {"a", "b", "c", "d", "e", "u", "q", "zz"}) {
      SCOPED_TRACE(key);
      char want[64];
      ::GetPrivateProfileStringA("N", key, "", want, sizeof want, path.c_str());
      EXPECT_EQ(p.ProfileString(path, "N", key, "", 64), want);
      EXPECT_EQ(p.ProfileInt(path, "N", key, 99),
                static_cast<std::int32_t>(
                    ::GetPrivateProfileIntA("N", key, 99, path.c_str())));
    }
  }
  EXPECT_EQ(p.ProfileString(path, "N", "a", "", 3), "0x");
  EXPECT_EQ(p.ProfileString(path, "N", "a", "", 0), "");
  EXPECT_EQ(p.ProfileString(inst.dv() + "\\none.ini", "N", "a", "d", 9), "d");
  EXPECT_FALSE(inst.Exists("none.ini"));
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
  auto fail_write = [](HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) {
    return FALSE;
  };
  auto fail_flush = [](HANDLE) { return FALSE; };
  auto fail_move = [](LPCSTR, LPCSTR, DWORD) { return FALSE; };
  for (const Win32Calls& calls :
       {Win32Calls{fail_write, real.flush, real.move, real.message_box},
        Win32Calls{real.write_file, fail_flush, real.move, real.message_box},
        Win32Calls{real.write_file, real.flush, fail_move, real.message_box}}) {
    Win32FileCalls() = calls;
    p.WriteProfileString(path, "A", "k", "2");
    Win32FileCalls() = real;
    EXPECT_EQ(inst.Read("w.ini"), original);
    EXPECT_EQ(p.ProfileInt(path, "A", "k", -1), 1);
    EXPECT_EQ(Temporaries(inst.dv()), std::vector<std::string>());
  }

  p.WriteProfileString(path, "A", "k", "2");
  p.WriteProfileString(path, "A", "n", "x\r\nEVIL=1");
  EXPECT_EQ(inst.Read("w.ini"), "; keep me\n[A]\nk=2\nn=x\n\n[B]\nj=2\n");
  EXPECT_EQ(Temporaries(inst.dv()), std::vector<std::string>());
  // No folder: nothing is made, nothing breaks.
  p.WriteProfileString(inst.dir() + "\\nofolder\\x.ini", "A", "k", "v");
  EXPECT_FALSE(p.FileExists(inst.dir() + "\\nofolder"));
}

TEST(Win32PlatformTest, ParsesAFileOnceUntilItChanges) {
  TestInstallation inst;
  Win32Platform p;
  const std::string path = inst.dv() + "\\c.ini";
  std::string text = "[K]\r\n";
  for (int i = 0; i < 300; ++i) text += "k" + std::to_string(i) + "=1\r\n";
  inst.Write("c.ini", text);
  const std::size_t start = p.parse_count();
  for (int i = 0; i < 600; ++i) {
    ASSERT_EQ(p.ProfileInt(path, "K", "k" + std::to_string(i % 300), -1), 1);
  }
  EXPECT_EQ(p.parse_count(), start + 1);
  // The same size, written at once: seen all the same.
  inst.Write("c.ini", "[K]\r\nk1=2" + text.substr(9));
  EXPECT_EQ(p.ProfileInt(path, "K", "k1", -1), 2);
  inst.Remove("c.ini");
  EXPECT_EQ(p.ProfileInt(path, "K", "k1", -1), -1);
}

TEST(Win32PlatformTest, ThreadsAndProcessesWritingOneFileKeepEveryKey) {
  TestInstallation inst;
  const std::string threads_path = inst.dv() + "\\t.ini";
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&threads_path, t] {
      testing::WriteRounds(*DefaultPlatform(), threads_path, t, 4, 10);
    });
  }
  for (std::thread& t : threads) t.join();
  ExpectEveryKey(threads_path, 4, 10, 3);

  const std::string path = inst.dv() + "\\p.ini";
  std::vector<HANDLE> children;
  for (int c = 0; c < 3; ++c) {
    children.push_back(
        StartWriter("\"" + path + "\" " + std::to_string(c) + " 3 15"));
    ASSERT_NE(children.back(), nullptr);
  }
  for (HANDLE child : children) EXPECT_EQ(ExitCode(child), 0u);
  ExpectEveryKey(path, 3, 15, 2);
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
    HANDLE child =
        StartWriter("\"" + path + "\" forever " + std::to_string(kKeys));
    ASSERT_NE(child, nullptr);
    ::Sleep(300 + rng() % 700);
    ::TerminateProcess(child, 9);
    ExitCode(child);
    Win32Platform reader;
    for (int k = 0; k < kKeys; ++k) {
      const std::string v =
          reader.ProfileString(path, RoundSection(0), RoundKey(0, k), "", 64);
      const unsigned long n = std::strtoul(v.c_str(), nullptr, 10);
      ASSERT_TRUE(v == "0" || (v == testing::GrowingValue(n) &&
                               n % kKeys == static_cast<unsigned>(k)))
          << RoundKey(0, k) << "=" << v;
      if (v != "0") ++changed;
    }
  }
  EXPECT_GT(changed, 0);
  // A later writer removes what the killed ones left, once it is old.
  const FILETIME old = {0, 0x01000000};  // long ago
  for (const std::string& name : Temporaries(inst.dv())) {
    HANDLE h =
        ::CreateFileA((inst.dv() + "\\" + name).c_str(), FILE_WRITE_ATTRIBUTES,
                      0, nullptr, OPEN_EXISTING, 0, nullptr);
    ::SetFileTime(h, nullptr, nullptr, &old);
    ::CloseHandle(h);
  }
  seed.WriteProfileString(path, "K", "after", "1");
  EXPECT_EQ(Temporaries(inst.dv()), std::vector<std::string>());
}

TEST(Win32PlatformTest, CopiesThroughATemporaryFileAndReadsPrefixes) {
  TestInstallation inst;
  Win32Platform p;
  const std::string dv = inst.dv();
  inst.Write("from.tmp", "[T]\r\nx=1\r\n");
  inst.Write("have.ini", "[H]\r\n");
  EXPECT_FALSE(p.CopyFileIfMissing(dv + "\\from.tmp", dv + "\\have.ini"));
  EXPECT_EQ(inst.Read("have.ini"), "[H]\r\n");
  EXPECT_TRUE(p.CopyFileIfMissing(dv + "\\from.tmp", dv + "\\new.ini"));
  EXPECT_EQ(inst.Read("new.ini"), "[T]\r\nx=1\r\n");
  EXPECT_TRUE(p.CopyFile(dv + "\\from.tmp", dv + "\\have.ini"));
  EXPECT_EQ(inst.Read("have.ini"), "[T]\r\nx=1\r\n");
  // A missing template replaces nothing.
  EXPECT_FALSE(p.CopyFile(dv + "\\none.tmp", dv + "\\have.ini"));
  EXPECT_EQ(inst.Read("have.ini"), "[T]\r\nx=1\r\n");
  EXPECT_EQ(Temporaries(dv), std::vector<std::string>());
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
  ASSERT_NE(mem, nullptr);
  ASSERT_NE(::VirtualAlloc(mem, 4 * page, MEM_COMMIT, PAGE_READWRITE), nullptr);
  DWORD was;
  ASSERT_TRUE(::VirtualProtect(mem + page, page, PAGE_NOACCESS, &was));
  ASSERT_TRUE(::VirtualProtect(mem + 2 * page, page,
                               PAGE_READWRITE | PAGE_GUARD, &was));
  auto* freed = static_cast<char*>(
      ::VirtualAlloc(nullptr, page, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_TRUE(::VirtualFree(freed, 0, MEM_RELEASE));
  const struct {
    const char* name;
    const void* p;
    std::size_t size;
    bool want;
  } cases[] = {
      {"null", nullptr, 1, false},
      {"size 0", mem + page, 0, true},
      {"first page", mem, page, true},
      {"runs into no access", mem + page - 1, 2, false},
      {"no access", mem + page, 1, false},
      {"guard page", mem + 2 * page, 1, false},
      {"after the guard", mem + 3 * page, page, true},
      {"runs off into reserved", mem + 4 * page - 1, 2, false},
      {"reserved", mem + 4 * page, 1, false},
      {"freed", freed, 1, false},
      {"huge", mem, SIZE_MAX / 2, false},
      {"wraps", reinterpret_cast<const void*>(UINTPTR_MAX - 10), 100, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(p.IsReadable(c.p, c.size), c.want) << c.name;
  }
  // The guard page is still armed: the test never touched it.
  MEMORY_BASIC_INFORMATION info;
  ASSERT_NE(::VirtualQuery(mem + 2 * page, &info, sizeof info), 0u);
  EXPECT_NE(info.Protect & PAGE_GUARD, 0u);
  ::VirtualFree(mem, 0, MEM_RELEASE);
}

TEST(Win32PlatformTest, FolderSerialAndQuestion) {
  char exe[MAX_PATH];
  std::string want(exe, ::GetModuleFileNameA(nullptr, exe, MAX_PATH));
  want.resize(want.rfind('\\'));
  ASSERT_TRUE(::SetCurrentDirectoryA("C:\\"));
  Win32Platform p;
  EXPECT_EQ(p.ModuleDirectory(), want);
  char cwd[MAX_PATH];
  EXPECT_EQ(std::string(cwd, ::GetCurrentDirectoryA(MAX_PATH, cwd)), want);

  DWORD serial = 0;
  ASSERT_TRUE(::GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr,
                                      nullptr, nullptr, 0));
  EXPECT_EQ(p.VolumeSerial(), serial);

  // The answer comes from the message box; tests put theirs in its place.
  static std::string asked;
  static int answer;
  const Win32Calls real = Win32FileCalls();
  Win32FileCalls().message_box = [](HWND, LPCSTR text, LPCSTR, UINT type) {
    asked = text;
    return (type & MB_YESNO) == MB_YESNO ? answer : IDOK;
  };
  for (int a : {IDYES, IDNO, 0}) {
    answer = a;
    EXPECT_EQ(p.AskYesNo("Replace?"), a == IDYES);
    EXPECT_EQ(asked, "Replace?");
  }
  Win32FileCalls() = real;
}

}  // namespace
}  // namespace quillmore
