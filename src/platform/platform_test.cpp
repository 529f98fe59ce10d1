// The platform of this system, POSIX or Win32, through one test body:
// transactions, the parsed-file cache, single failing calls and the
// stand-ins for the machine.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/system_platform.h"
#include "testing/test_installation.h"

#ifdef _WIN32
#include "platform/win32_files.h"
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix_files.h"
#endif

namespace quillmore {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

#ifdef _WIN32
using Calls = Win32Calls;
Calls& SystemCalls() { return Win32FileCalls(); }
const std::string kNewLine = "\r\n";
// Each a single failing call: write, flush, move (WINAPI: __stdcall on x86).
std::vector<Calls> Failing(const Calls& real) {
  return {
      {[](HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED)
           WINAPI { return FALSE; },
       real.flush, real.move, real.message_box},
      {real.write_file, [](HANDLE) WINAPI { return FALSE; }, real.move,
       real.message_box},
      {real.write_file, real.flush,
       [](LPCSTR, LPCSTR, DWORD) WINAPI { return FALSE; }, real.message_box}};
}
#else
using Calls = FileCalls;
Calls& SystemCalls() { return PosixFileCalls(); }
const std::string kNewLine = "\n";
// Each a single failing call: write (at once, after a short write), sync,
// rename.
std::vector<Calls> Failing(const Calls& real) {
  return {{[](int, const void*, std::size_t) -> ssize_t {
             return errno = ENOSPC, -1;
           },
           real.fsync, real.rename},
          {[](int fd, const void* b, std::size_t) -> ssize_t {
             static int calls = 0;
             return calls++ % 2 == 0 ? ::write(fd, b, 3) : (errno = EIO, -1);
           },
           real.fsync, real.rename},
          {real.write, [](int) { return errno = EIO, -1; }, real.rename},
          {real.write, real.fsync,
           [](const char*, const char*) { return errno = EXDEV, -1; }}};
}
#endif

ProfileFiles::Identity IdentityOf(const std::string& path) {
  ProfileFiles::Identity id;
  SystemProfileFiles().Stat(path, id);
  return id;
}

class PlatformTest : public ::testing::Test {
 protected:
  // Sets A.k in one transaction.
  bool Set(const std::string& file, const std::string& value) {
    return p.EditProfile(file, "",
                         [&](ProfileDocument& d) { d.Set("A", "k", value); });
  }
  TestInstallation inst;
  SystemPlatform p;
  const std::string dv = inst.dv() + "/", path = dv + "f.ini";
};

TEST_F(PlatformTest, TransactionsReplaceTheFileOnlyWhenItChanges) {
  // A missing file reads as empty and is never created by a read.
  EXPECT_EQ(p.ReadProfile(path).state, FileState::kMissing);
  EXPECT_FALSE(inst.Exists("f.ini"));
  EXPECT_TRUE(p.EditProfile(path, "", [](ProfileDocument& d) {
    d.Set("A", "k", "1");
    d.Set("A", "j", std::string(d.Find("a", "K").value_or("?")));
  }));
  EXPECT_EQ(inst.Read("f.ini"),
            "[A]" + kNewLine + "k=1" + kNewLine + "j=1" + kNewLine);
  inst.Write("f.ini", "[A]\nk=1\nj=1\n");
  // Unchanged: not replaced.
  const ProfileFiles::Identity before = IdentityOf(path);
  EXPECT_TRUE(Set(path, "1"));
  EXPECT_EQ(IdentityOf(path), before);
#ifdef _WIN32
  // A replaced file keeps its attributes.
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(Set(path, "3"));
  EXPECT_NE(::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
#else
  // A link stays a link; the file keeps its mode. Nothing is written over
  // a file that can't be read (a FIFO).
  fs::permissions(path, fs::perms(0600));
  fs::create_symlink(path, dv + "sym.ini");
  EXPECT_TRUE(Set(dv + "sym.ini", "3"));
  EXPECT_TRUE(fs::is_symlink(dv + "sym.ini"));
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0600));
  ASSERT_EQ(::mkfifo((dv + "fifo.ini").c_str(), 0644), 0);
  EXPECT_FALSE(Set(dv + "fifo.ini", "1"));
  EXPECT_TRUE(fs::is_fifo(dv + "fifo.ini"));
  EXPECT_EQ(p.ReadProfile(dv + "fifo.ini").state, FileState::kUnreadable);
#endif
  EXPECT_EQ(inst.Read("f.ini"), "[A]\nk=3\nj=1\n");
  // Nothing is written into a missing folder; the edit still runs once, on
  // an empty document.
  int runs = 0;
  EXPECT_FALSE(
      p.EditProfile(inst.dir() + "/none/x.ini", path, [&](ProfileDocument& d) {
        runs += 1 + d.Find("A", "k").has_value();
        d.Set("A", "k", "1");
      }));
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(fs::exists(inst.dir() + "/none"));
  // What killed writers left goes with a writer's first write, once it is
  // old.
  inst.Write(".f.ini.tmp1.0", "");
  inst.Write(".f.ini.tmp1.1", "");
  fs::last_write_time(dv + ".f.ini.tmp1.0",
                      fs::file_time_type::clock::now() - std::chrono::hours(1));
  SystemPlatform writer;
  EXPECT_TRUE(writer.EditProfile(
      path, "", [](ProfileDocument& d) { d.Set("A", "k", "4"); }));
  EXPECT_EQ(inst.Temporaries(), Names{".f.ini.tmp1.1"});
  inst.Remove(".f.ini.tmp1.1");
  // A failing call leaves the file as it was and no temporary file.
  const Calls real = SystemCalls();
  for (const Calls& calls : Failing(real)) {
    SystemCalls() = calls;
    EXPECT_FALSE(Set(path, "5"));
    SystemCalls() = real;
    EXPECT_EQ(inst.Read("f.ini"), "[A]\nk=4\nj=1\n");
    EXPECT_EQ(p.ReadProfile(path).document->Find("A", "k"), "4");
    EXPECT_EQ(inst.Temporaries(), Names());
  }
  // A copy replaces the file in one step; a missing template, nothing.
  inst.Write("from.tmp", "[T]\n");
  EXPECT_FALSE(p.CopyFile(dv + "none.tmp", path));
  EXPECT_TRUE(p.CopyFile(dv + "from.tmp", path));
  EXPECT_EQ(inst.Read("f.ini"), "[T]\n");
  EXPECT_EQ(p.ReadPrefix(dv + "from.tmp", 2), "[T");
  EXPECT_EQ(p.ReadPrefix(inst.dv(), 2), std::nullopt);
}

TEST_F(PlatformTest, ParsesAFileOnceUntilItChanges) {
  auto k = [&] {
    return p.ReadProfile(path).document->FindInt("K", "k").value_or(-1);
  };
  inst.Write("f.ini", "[K]\nk=1\n");
  const std::size_t parsed = p.parse_count();
  for (int i = 0; i < 5; ++i) ASSERT_EQ(k(), 1);
  EXPECT_EQ(p.parse_count(), parsed + 1);
  // Rewritten in place, the same size, within one tick of the clock: only
  // the bytes tell.
  for (int i = 0; i < 40; ++i) {
    inst.Write("f.ini", "[K]\nk=" + std::to_string(3 + i % 2) + "\n");
    ASSERT_EQ(k(), 3 + i % 2);
  }
  // An old file rewritten in place, its time stamp put back (touch -r,
  // cp -p): only the change time moved.
  const auto stamp = fs::file_time_type::clock::now() - std::chrono::hours(1);
  fs::last_write_time(path, stamp);
  EXPECT_EQ(k(), 4);
  inst.Write("f.ini", "[K]\nk=2\n");
  fs::last_write_time(path, stamp);
  EXPECT_EQ(k(), 2);
  // A transaction starts from the kept document and keeps what it wrote:
  // nothing is parsed again, and a snapshot held meanwhile doesn't change.
  const std::size_t kept = p.parse_count();
  const ProfileSnapshot held = p.ReadProfile(path);
  for (const char* v : {"5", "6"}) {
    EXPECT_TRUE(p.EditProfile(path, "",
                              [&](ProfileDocument& d) { d.Set("K", "k", v); }));
    EXPECT_EQ(k(), std::stoi(v));
  }
  EXPECT_EQ(held.document->Find("K", "k"), "2");
  EXPECT_EQ(p.parse_count(), kept);
  inst.Remove("f.ini");
  EXPECT_EQ(k(), -1);
}

TEST_F(PlatformTest, StandInsForTheMachine) {
  // The executable's folder, made the current directory.
  const fs::path saved = fs::current_path();
#ifdef _WIN32
  char exe_path[MAX_PATH];
  const fs::path exe =
      fs::path(std::string(exe_path,
                           ::GetModuleFileNameA(nullptr, exe_path, MAX_PATH)))
          .parent_path();
  DWORD serial = 0;
  ::GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr, nullptr,
                          nullptr, 0);
  EXPECT_EQ(p.VolumeSerial(), serial);
#else
  const fs::path exe = fs::read_symlink("/proc/self/exe").parent_path();
  EXPECT_TRUE(p.VolumeSerial() != 0 || !fs::exists("/etc/machine-id"));
#endif
  fs::current_path(fs::path(inst.dir()));
  EXPECT_EQ(p.EnterModuleDirectory(), exe.string());
  EXPECT_EQ(fs::current_path(), exe);
  fs::current_path(saved);
#ifdef _WIN32
  // The answer comes from the message box; a test puts its own in place.
  static std::string asked;
  static int answer;
  const Calls real = SystemCalls();
  SystemCalls().message_box = [](HWND, LPCSTR text, LPCSTR, UINT type) WINAPI {
    asked = text;
    return (type & MB_YESNO) == MB_YESNO ? answer : IDOK;
  };
  for (const int a : {IDYES, IDNO, 0}) {
    answer = a;
    EXPECT_EQ(p.AskYesNo("Replace?"), a == IDYES);
    EXPECT_EQ(asked, "Replace?");
  }
  SystemCalls() = real;
#else
  // A new session has no controlling terminal: the answer is No.
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(::setsid() < 0 || p.AskYesNo("?"));
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_EQ(status, 0);
#endif
}

}  // namespace
}  // namespace quillmore
