#include "platform/posix_platform.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
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

ssize_t FailWrite(int, const void*, std::size_t) { return errno = ENOSPC, -1; }
ssize_t ShortWriteThenFail(int fd, const void* b, std::size_t) {
  static int calls = 0;
  return calls++ % 2 == 0 ? ::write(fd, b, 3) : (errno = EIO, -1);
}
int FailSync(int) { return errno = EIO, -1; }
int FailRename(const char*, const char*) { return errno = EXDEV, -1; }

class PosixPlatformTest : public ::testing::Test {
 protected:
  // Sets A.k in one transaction.
  bool Set(const std::string& file, const std::string& value) {
    return p.EditProfile(file, "",
                         [&](ProfileDocument& d) { d.Set("A", "k", value); });
  }
  TestInstallation inst;
  PosixPlatform p;
  const std::string dv = inst.dv() + "/", path = dv + "f.ini";
};

TEST_F(PosixPlatformTest, TransactionsReplaceTheFileOnlyWhenItChanges) {
  // A missing file reads as empty and is never created by a read.
  EXPECT_EQ(p.ReadProfile(path).state, FileState::kMissing);
  EXPECT_FALSE(inst.Exists("f.ini"));
  EXPECT_TRUE(p.EditProfile(path, "", [](ProfileDocument& d) {
    d.Set("A", "k", "1");
    d.Set("A", "j", std::string(d.Find("a", "K").value_or("?")));
  }));
  EXPECT_EQ(inst.Read("f.ini"), "[A]\nk=1\nj=1\n");
  // Unchanged: not replaced (the hard link still shares the file). A link
  // stays a link; the file keeps its mode.
  fs::create_hard_link(path, dv + "link.ini");
  EXPECT_TRUE(Set(path, "1"));
  EXPECT_TRUE(fs::equivalent(path, dv + "link.ini"));
  fs::permissions(path, fs::perms(0600));
  fs::create_symlink(path, dv + "sym.ini");
  EXPECT_TRUE(Set(dv + "sym.ini", "3"));
  EXPECT_TRUE(fs::is_symlink(dv + "sym.ini"));
  EXPECT_EQ(inst.Read("f.ini"), "[A]\nk=3\nj=1\n");
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0600));
  // Nothing is written into a missing folder, nor over a file that can't
  // be read (a FIFO); the edit still runs once, on an empty document.
  ASSERT_EQ(::mkfifo((dv + "fifo.ini").c_str(), 0644), 0);
  for (const std::string& bad : {inst.dir() + "/none/x.ini", dv + "fifo.ini"}) {
    int runs = 0;
    EXPECT_FALSE(p.EditProfile(bad, path, [&](ProfileDocument& d) {
      runs += 1 + d.Find("A", "k").has_value();
      d.Set("A", "k", "1");
    }));
    EXPECT_EQ(runs, 1);
  }
  EXPECT_FALSE(fs::exists(inst.dir() + "/none"));
  EXPECT_TRUE(fs::is_fifo(dv + "fifo.ini"));
  EXPECT_EQ(p.ReadProfile(dv + "fifo.ini").state, FileState::kUnreadable);
  // What killed writers left goes with the next write, once it is old.
  inst.Write(".f.ini.tmp1.0", "");
  inst.Write(".f.ini.tmp1.1", "");
  fs::last_write_time(dv + ".f.ini.tmp1.0",
                      fs::file_time_type::clock::now() - std::chrono::hours(1));
  EXPECT_TRUE(Set(path, "4"));
  EXPECT_EQ(Temporaries(dv), Names{".f.ini.tmp1.1"});
  inst.Remove(".f.ini.tmp1.1");
  // A failing call leaves the file as it was and no temporary file.
  const FileCalls real = PosixFileCalls();
  for (const FileCalls& calls :
       {FileCalls{FailWrite, real.fsync, real.rename},
        FileCalls{ShortWriteThenFail, real.fsync, real.rename},
        FileCalls{real.write, FailSync, real.rename},
        FileCalls{real.write, real.fsync, FailRename}}) {
    PosixFileCalls() = calls;
    EXPECT_FALSE(Set(path, "5"));
    PosixFileCalls() = real;
    EXPECT_EQ(inst.Read("f.ini"), "[A]\nk=4\nj=1\n");
    EXPECT_EQ(p.ReadProfile(path).document->Find("A", "k"), "4");
    EXPECT_EQ(Temporaries(dv), Names());
  }
}

TEST_F(PosixPlatformTest, ParsesAFileOnceUntilItChanges) {
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
    EXPECT_TRUE(p.EditProfile(
        path, "", [&](ProfileDocument& d) { d.Set("K", "k", v); }));
    EXPECT_EQ(k(), std::stoi(v));
  }
  EXPECT_EQ(held.document->Find("K", "k"), "2");
  EXPECT_EQ(p.parse_count(), kept);
  inst.Remove("f.ini");
  EXPECT_EQ(k(), -1);
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
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(::setsid() < 0 || p.AskYesNo("?"));
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace quillmore
