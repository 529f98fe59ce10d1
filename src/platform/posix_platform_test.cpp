#include "platform/posix_platform.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "testing/test_installation.h"

namespace quillmore {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

// Names in the folder that look like temporary files (".<name>.tmp...").
Names Temporaries(const std::string& folder) {
  Names out;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().filename().string()[0] == '.')
      out.push_back(e.path().filename());
  return out;
}

// Sets a file's modification time `seconds` into the past.
void Age(const std::string& path, int seconds) {
  fs::last_write_time(
      path, fs::file_time_type::clock::now() - std::chrono::seconds(seconds));
}

// Runs `body` in a child process; the result is its exit code (-1 killed).
template <typename F>
pid_t Child(F body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  EXPECT_GE(pid, 0);
  return pid;
}
int ExitCode(pid_t pid) {
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Key(int w, int k) {
  return "W" + std::to_string(w) + "K" + std::to_string(k);
}

ssize_t FailWrite(int, const void*, std::size_t) { return errno = ENOSPC, -1; }
ssize_t ShortWriteThenFail(int fd, const void* b, std::size_t) {
  static int calls = 0;
  return calls++ % 2 == 0 ? ::write(fd, b, 3) : (errno = EIO, -1);
}
int FailSync(int) { return errno = EIO, -1; }
int FailRename(const char*, const char*) { return errno = EXDEV, -1; }

class PosixPlatformTest : public ::testing::Test {
 protected:
  TestInstallation inst;
  PosixPlatform p;
  const std::string dv = inst.dv() + "/", path = dv + "f.ini";
};

TEST_F(PosixPlatformTest, ReadsCutToTheSizeLessOneAndWritesOnlyChanges) {
  // A missing file gives the defaults and is never created by a read.
  EXPECT_EQ(p.ProfileInt(path, "A", "k", -1), -1);
  EXPECT_EQ(p.ProfileString(path, "A", "k", "d", 9), "d");
  EXPECT_FALSE(inst.Exists("f.ini"));
  p.WriteProfileString(path, "A", "v", "abcdef");
  p.WriteProfileString(path, "A", "e", "");
  EXPECT_EQ(inst.Read("f.ini"), "[A]\nv=abcdef\ne=\n");
  EXPECT_EQ(p.ProfileInt(path, "A", "e", 99), 99);  // empty reads as missing
  EXPECT_EQ(p.ProfileString(path, "A", "v", "", 7), "abcdef");
  EXPECT_EQ(p.ProfileString(path, "A", "v", "", 6), "abcde");
  EXPECT_EQ(p.ProfileString(path, "A", "v", "", 1), "");
  EXPECT_EQ(p.ProfileString(path, "A", "v", "", 0), "");
  EXPECT_EQ(p.ProfileString(path, "A", "e", "dflt", 3), "df");
  EXPECT_EQ(p.ProfileString(path, "A", "zz", "dflt", 99), "dflt");
  // The value the key has already: the file is not replaced.
  fs::create_hard_link(path, dv + "link.ini");
  p.WriteProfileString(path, "a", "V", "abcdef");
  EXPECT_TRUE(fs::equivalent(path, dv + "link.ini"));
  EXPECT_EQ(Temporaries(dv), Names());
  // No folder: nothing is made, nothing breaks.
  p.WriteProfileString(inst.dir() + "/nofolder/x.ini", "A", "k", "v");
  EXPECT_FALSE(fs::exists(inst.dir() + "/nofolder"));
}

TEST_F(PosixPlatformTest, FailedWriteLeavesTheFileAndNoTemporary) {
  const FileCalls real = PosixFileCalls();
  const struct {
    const char* name;
    FileCalls calls;
  } cases[] = {
      {"write", {FailWrite, real.fsync, real.rename}},
      {"short write, failure", {ShortWriteThenFail, real.fsync, real.rename}},
      {"sync", {real.write, FailSync, real.rename}},
      {"rename", {real.write, real.fsync, FailRename}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    inst.Write("f.ini", "[A]\nk=1\n");
    PosixFileCalls() = c.calls;
    p.WriteProfileString(path, "A", "k", "2");
    p.WriteProfileString(path, "B", "new", "2");
    PosixFileCalls() = real;
    EXPECT_EQ(inst.Read("f.ini"), "[A]\nk=1\n");
    EXPECT_EQ(p.ProfileString(path, "A", "k", "", 9), "1");
    EXPECT_EQ(Temporaries(dv), Names());
  }
}

TEST_F(PosixPlatformTest, ParsesAFileOnceUntilItChanges) {
  auto k = [&] { return p.ProfileInt(path, "K", "k", -1); };
  inst.Write("f.ini", "[K]\nk=1\n");
  const std::size_t parsed = p.parse_count();
  for (int i = 0; i < 5; ++i) ASSERT_EQ(k(), 1);
  EXPECT_EQ(p.parse_count(), parsed + 1);
  // An old file rewritten in place, the same size, its time stamp put back
  // (touch -r, cp -p): only the change time moved.
  Age(path, 3600);
  EXPECT_EQ(k(), 1);
  const fs::file_time_type stamp = fs::last_write_time(path);
  inst.Write("f.ini", "[K]\nk=2\n");
  fs::last_write_time(path, stamp);
  EXPECT_EQ(k(), 2);
  inst.Remove("f.ini");
  EXPECT_EQ(k(), -1);
}

// Several processes, each writing from several threads through its own
// platform (its own cache), keep every writer's every key.
TEST_F(PosixPlatformTest, ThreadsAndProcessesWritingOneFileKeepEveryKey) {
  constexpr int kProcesses = 3, kThreads = 3, kKeys = 8, kRounds = 3;
  std::vector<pid_t> children;
  for (int c = 0; c < kProcesses; ++c) {
    children.push_back(Child([&] {
      PosixPlatform own;
      std::vector<std::thread> threads;
      for (int w = c * kThreads; w < (c + 1) * kThreads; ++w) {
        threads.emplace_back([&, w] {
          for (int n = 0; n < kRounds * kKeys; ++n)
            own.WriteProfileString(path, "S", Key(w, n % kKeys),
                                   std::to_string(n / kKeys));
        });
      }
      for (std::thread& t : threads) t.join();
      return 0;
    }));
  }
  for (pid_t pid : children) EXPECT_EQ(ExitCode(pid), 0);
  for (int w = 0; w < kProcesses * kThreads; ++w) {
    for (int k = 0; k < kKeys; ++k) {
      EXPECT_EQ(PosixPlatform().ProfileInt(path, "S", Key(w, k), -1),
                kRounds - 1)
          << Key(w, k);
    }
  }
}

TEST_F(PosixPlatformTest, KilledWriterLeavesAWholeFile) {
  constexpr int kKeys = 8;
  // Growing values: each write changes the file's size and bytes.
  auto value = [](int n) {
    return std::to_string(n) + std::string(n % 7, 'x');
  };
  for (int k = 0; k < kKeys; ++k)
    p.WriteProfileString(path, "S", Key(0, k), value(k));
  int changed = 0;  // the writer got somewhere before it was killed
  for (int round = 0; round < 20; ++round) {
    const pid_t pid = Child([&] {
      for (int n = kKeys;; ++n)
        PosixPlatform().WriteProfileString(path, "S", Key(0, n % kKeys),
                                           value(n));
      return 0;
    });
    ::usleep(500 + 997 * round % 20000);
    ::kill(pid, SIGKILL);
    ExitCode(pid);
    for (int k = 0; k < kKeys; ++k) {  // a value written for this key, whole
      const std::string v =
          PosixPlatform().ProfileString(path, "S", Key(0, k), "", 64);
      const int n = std::atoi(v.c_str());
      ASSERT_TRUE(v == value(n) && n % kKeys == k)
          << "round " << round << ": " << Key(0, k) << "=" << v;
      changed += n >= kKeys;
    }
  }
  EXPECT_GT(changed, 0);
  // A later writer removes what the killed ones left, once it is old.
  for (const std::string& name : Temporaries(dv)) Age(dv + name, 600);
  p.WriteProfileString(path, "K", "after", "1");
  EXPECT_EQ(Temporaries(dv), Names());
}

TEST_F(PosixPlatformTest, CopiesAndReadsFiles) {
  inst.Write("from.tmp", "[T]\nx=1\n");
  inst.Write("f.ini", "[H]\n");
  EXPECT_FALSE(p.CopyFileIfMissing(dv + "from.tmp", path));
  EXPECT_TRUE(p.CopyFileIfMissing(dv + "from.tmp", dv + "new.ini"));
  EXPECT_FALSE(p.CopyFile(dv + "none.tmp", path));
  EXPECT_EQ(inst.Read("f.ini"), "[H]\n");
  EXPECT_EQ(inst.Read("new.ini"), "[T]\nx=1\n");
  EXPECT_TRUE(p.CopyFile(dv + "from.tmp", path));
  EXPECT_EQ(inst.Read("f.ini"), "[T]\nx=1\n");
  EXPECT_EQ(Temporaries(dv), Names());
  inst.Write("big.sql", std::string(3000, 'a'));
  EXPECT_EQ(p.ReadPrefix(dv + "big.sql", 2048), std::string(2048, 'a'));
  EXPECT_EQ(p.ReadPrefix(dv + "none.sql", 2048), std::nullopt);
  EXPECT_EQ(p.ReadPrefix(dv, 2048), std::nullopt);
}

TEST_F(PosixPlatformTest, IsReadableNeverFaults) {
  // A hole at the second page. Many pages: more probes than one batch or
  // the pipe hold at once.
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)),
                    pages = 2000;
  auto* mem =
      static_cast<char*>(::mmap(nullptr, pages * page, PROT_READ | PROT_WRITE,
                                MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(mem, MAP_FAILED);
  ASSERT_EQ(::mprotect(mem + page, page, PROT_NONE), 0);
  EXPECT_FALSE(p.IsReadable(nullptr, 1));
  EXPECT_TRUE(p.IsReadable(mem + page, 0));
  EXPECT_TRUE(p.IsReadable(mem + page - 1, 1));
  EXPECT_FALSE(p.IsReadable(mem + page - 1, 2));
  EXPECT_FALSE(p.IsReadable(mem, 3 * page));
  EXPECT_TRUE(p.IsReadable(mem + 2 * page + 1, (pages - 2) * page - 1));
  EXPECT_FALSE(p.IsReadable(mem, SIZE_MAX));  // wraps around
  ::munmap(mem, pages * page);
}

TEST_F(PosixPlatformTest, StandInsForTheMachine) {
  // The executable's folder, made the current directory.
  const fs::path saved = fs::current_path(),
                 exe = fs::read_symlink("/proc/self/exe").parent_path();
  fs::current_path("/");
  EXPECT_EQ(p.ModuleDirectory(), exe.string());
  EXPECT_EQ(fs::current_path(), exe);
  fs::current_path(saved);
  EXPECT_EQ(p.VolumeSerial(), PosixPlatform().VolumeSerial());
  EXPECT_TRUE(p.VolumeSerial() != 0 || !fs::exists("/etc/machine-id"));
  // A new session has no controlling terminal: the answer is No.
  EXPECT_EQ(ExitCode(Child([&] { return ::setsid() < 0 || p.AskYesNo("?"); })),
            0);
}

}  // namespace
}  // namespace quillmore
