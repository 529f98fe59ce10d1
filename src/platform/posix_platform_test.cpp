#include "platform/posix_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "testing/test_installation.h"

namespace quillmore {
namespace {

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

// Names in the folder that look like temporary files.
std::vector<std::string> Temporaries(const std::string& folder) {
  std::vector<std::string> out;
  DIR* d = ::opendir(folder.c_str());
  while (const dirent* e = d != nullptr ? ::readdir(d) : nullptr) {
    if (std::string(e->d_name).find(".tmp") != std::string::npos &&
        e->d_name[0] == '.') {
      out.push_back(e->d_name);
    }
  }
  if (d != nullptr) ::closedir(d);
  return out;
}

// Sets a file's modification time `seconds` into the past.
void Age(const std::string& path, int seconds) {
  struct timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= seconds;
  times[1] = times[0];
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

void ExpectExit(pid_t pid, int code) {
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == code) << status;
}

// Writer w's key k lives in section S<w % 2>: writers share sections.
std::string Section(int w) { return "S" + std::to_string(w % 2); }
std::string Key(int w, int k) {
  return "W" + std::to_string(w) + "K" + std::to_string(k);
}

void WriteRounds(Platform& p, const std::string& path, int w, int rounds,
                 int keys) {
  for (int r = 0; r < rounds; ++r) {
    for (int k = 0; k < keys; ++k) {
      p.WriteProfileString(path, Section(w), Key(w, k), std::to_string(r));
    }
  }
}

// Read anew: every writer's every key holds its last round.
void ExpectEveryKey(const std::string& path, int writers, int keys, int last) {
  PosixPlatform fresh;
  for (int w = 0; w < writers; ++w) {
    for (int k = 0; k < keys; ++k) {
      SCOPED_TRACE(Key(w, k));
      EXPECT_EQ(fresh.ProfileInt(path, Section(w), Key(w, k), -1), last);
    }
  }
}

ssize_t FailWrite(int, const void*, std::size_t) {
  errno = ENOSPC;
  return -1;
}
ssize_t ShortWriteThenFail(int fd, const void* b, std::size_t) {
  static int calls = 0;
  if (calls++ % 2 == 0) return ::write(fd, b, 3);
  errno = EIO;
  return -1;
}
int FailSync(int) {
  errno = EIO;
  return -1;
}
int FailRename(const char*, const char*) {
  errno = EXDEV;
  return -1;
}

TEST(PosixPlatformTest, ReadsIntegersAndTextsCutToTheSizeLessOne) {
  TestInstallation inst;
  PosixPlatform p;
  const std::string path = inst.dv() + "/n.ini";
  inst.Write("n.ini",
             "[N]\na=12abc\nb= 7\nc=+5\nd=-3\ne=4294967297\nf=2147483648\n"
             "g=abc\nh=\ni='-4'\nj=- 5\nk=\" 8\"\nl=-2147483649\nv=abcdef\n");
  struct {
    const char* key;
    std::int32_t want;
  } ints[] = {{"a", 12}, {"b", 7},         {"c", 5}, {"d", -3},
              {"e", 1},  {"f", INT32_MIN}, {"g", 0}, {"h", 99},
              {"i", -4}, {"j", 0},         {"k", 8}, {"l", INT32_MAX},
              {"zz", 99}};
  for (const auto& c : ints) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(p.ProfileInt(path, "N", c.key, 99), c.want);
  }
  struct {
    const char* key;
    const char* def;
    std::size_t size;
    const char* want;
  } texts[] = {{"v", "", 7, "abcdef"}, {"v", "", 6, "abcde"},
               {"v", "", 1, ""},       {"v", "", 0, ""},
               {"h", "dflt", 3, "df"}, {"zz", "dflt", 99, "dflt"}};
  for (const auto& c : texts) {
    SCOPED_TRACE(std::string(c.key) + " " + std::to_string(c.size));
    EXPECT_EQ(p.ProfileString(path, "N", c.key, c.def, c.size), c.want);
  }
  // A missing file gives the defaults and is never created by a read.
  EXPECT_EQ(p.ProfileInt(inst.dv() + "/none.ini", "N", "a", -1), -1);
  EXPECT_EQ(p.ProfileString(inst.dv() + "/none.ini", "N", "v", "d", 9), "d");
  EXPECT_FALSE(inst.Exists("none.ini"));
}

TEST(PosixPlatformTest, WritesInPlaceAndLeavesAnUnchangedFileAlone) {
  TestInstallation inst;
  PosixPlatform p;
  const std::string path = inst.dv() + "/w.ini";
  p.WriteProfileString(path, "A", "k", "v");
  EXPECT_EQ(inst.Read("w.ini"), "[A]\nk=v\n");

  inst.Write("w.ini", "; keep me\r\n[A]\r\nk=1\r\n\r\n[B]\r\nj=2\r\n");
  Age(path, 60);
  const struct stat before = StatOf(path);
  p.WriteProfileString(path, "a", "K", "1");
  const struct stat same = StatOf(path);
  EXPECT_EQ(same.st_ino, before.st_ino);
  EXPECT_EQ(same.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(same.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

  p.WriteProfileString(path, "A", "k", "2");
  p.WriteProfileString(path, "A", "n", "x\r\nEVIL=1");
  EXPECT_EQ(inst.Read("w.ini"),
            "; keep me\r\n[A]\r\nk=2\r\nn=x\r\n\r\n[B]\r\nj=2\r\n");
  EXPECT_EQ(Temporaries(inst.dv()), std::vector<std::string>());

  // No folder: nothing is made, nothing breaks.
  p.WriteProfileString(inst.dir() + "/nofolder/x.ini", "A", "k", "v");
  EXPECT_NE(::access((inst.dir() + "/nofolder").c_str(), F_OK), 0);
}

TEST(PosixPlatformTest, FailedWriteLeavesTheFileAndNoTemporary) {
  TestInstallation inst;
  PosixPlatform p;
  const std::string path = inst.dv() + "/f.ini", original = "[A]\nk=1\n";
  const FileCalls real = PosixFileCalls();
  const struct {
    const char* name;
    FileCalls calls;
  } cases[] = {
      {"write", {FailWrite, real.fsync, real.rename}},
      {"short write then failure",
       {ShortWriteThenFail, real.fsync, real.rename}},
      {"sync", {real.write, FailSync, real.rename}},
      {"rename", {real.write, real.fsync, FailRename}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    inst.Write("f.ini", original);
    PosixFileCalls() = c.calls;
    p.WriteProfileString(path, "A", "k", "2");
    p.WriteProfileString(path, "B", "new", "2");
    PosixFileCalls() = real;
    EXPECT_EQ(inst.Read("f.ini"), original);
    EXPECT_EQ(p.ProfileString(path, "A", "k", "", 9), "1");
    EXPECT_EQ(Temporaries(inst.dv()), std::vector<std::string>());
  }
}

TEST(PosixPlatformTest, ParsesAFileOnceUntilItChanges) {
  TestInstallation inst;
  PosixPlatform p;
  const std::string path = inst.dv() + "/c.ini";
  std::string text = "[K]\n";
  for (int i = 0; i < 500; ++i) {
    text += "key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  }
  inst.Write("c.ini", text);
  const std::size_t start = p.parse_count();
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 500; ++i) {
      ASSERT_EQ(p.ProfileInt(path, "K", "key" + std::to_string(i), -1), i);
    }
  }
  EXPECT_EQ(p.parse_count(), start + 1);
  auto key1 = [&] { return p.ProfileString(path, "K", "key1", "gone", 9); };

  // A new file renamed into place.
  inst.Write("c2.ini", "[K]\nkey1=new\n");
  ASSERT_EQ(::rename((inst.dv() + "/c2.ini").c_str(), path.c_str()), 0);
  EXPECT_EQ(key1(), "new");
  // The same inode with a new size.
  const ino_t ino = StatOf(path).st_ino;
  inst.Write("c.ini", "[K]\nkey1=newer\n");
  ASSERT_EQ(StatOf(path).st_ino, ino);
  EXPECT_EQ(key1(), "newer");
  // Same inode, same size, time stamp put back: a change in one clock tick.
  const struct stat st = StatOf(path);
  inst.Write("c.ini", "[K]\nkey1=NEWER\n");
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(key1(), "NEWER");
  // An old file changed in place with a new time stamp.
  Age(path, 3600);
  EXPECT_EQ(key1(), "NEWER");
  inst.Write("c.ini", "[K]\nkey1=other\n");
  Age(path, 1800);
  EXPECT_EQ(key1(), "other");
  // An old file rewritten in place, its time stamp put back (touch -r,
  // cp -p): only the change time moved.
  const struct stat old = StatOf(path);
  inst.Write("c.ini", "[K]\nkey1=OTHER\n");
  const struct timespec back[2] = {old.st_atim, old.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), back, 0), 0);
  EXPECT_EQ(key1(), "OTHER");
  inst.Remove("c.ini");
  EXPECT_EQ(key1(), "gone");
}

TEST(PosixPlatformTest, ThreadsWritingOneFileKeepEveryKey) {
  TestInstallation inst;
  const std::string path = inst.dv() + "/t.ini";
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back(
        [&path, t] { WriteRounds(*DefaultPlatform(), path, t, 5, 10); });
  }
  for (std::thread& t : threads) t.join();
  ExpectEveryKey(path, 4, 10, 4);
}

TEST(PosixPlatformTest, ProcessesWritingOneFileKeepEveryKey) {
  TestInstallation inst;
  const std::string path = inst.dv() + "/p.ini";
  std::vector<pid_t> children;
  for (int c = 0; c < 3; ++c) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      PosixPlatform own;  // a process of its own, with its own cache
      WriteRounds(own, path, c, 3, 15);
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) ExpectExit(pid, 0);
  ExpectEveryKey(path, 3, 15, 2);
}

TEST(PosixPlatformTest, KilledWriterLeavesAWholeFile) {
  TestInstallation inst;
  const std::string path = inst.dv() + "/k.ini";
  constexpr int kKeys = 8;
  PosixPlatform seed;
  WriteRounds(seed, path, 0, 1, kKeys);  // every key "0"
  std::mt19937 rng(12345);
  int changed = 0;  // the writer got somewhere before it was killed
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      PosixPlatform own;
      for (unsigned n = 1;; ++n) {
        // Growing values: each write changes the file's size and bytes.
        own.WriteProfileString(path, Section(0), Key(0, n % kKeys),
                               std::to_string(n) + std::string(n % 7, 'x'));
      }
    }
    ::usleep(500 + rng() % 20000);
    ::kill(pid, SIGKILL);
    ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
    PosixPlatform reader;
    for (int k = 0; k < kKeys; ++k) {
      const std::string v =
          reader.ProfileString(path, Section(0), Key(0, k), "", 64);
      // The seed, or a value the writer wrote for this key, whole.
      const unsigned long n = std::strtoul(v.c_str(), nullptr, 10);
      const bool whole = v == std::to_string(n) + std::string(n % 7, 'x');
      ASSERT_TRUE(v == "0" || (whole && n % kKeys == unsigned(k)))
          << Key(0, k) << "=" << v;
      if (v != "0") ++changed;
    }
  }
  EXPECT_GT(changed, 0);
  // A later writer removes what the killed ones left, once it is old.
  std::vector<std::string> left = Temporaries(inst.dv());
  RecordProperty("leftovers", static_cast<int>(left.size()));
  for (const std::string& name : left) Age(inst.dv() + "/" + name, 600);
  seed.WriteProfileString(path, "K", "after", "1");
  EXPECT_EQ(Temporaries(inst.dv()), std::vector<std::string>());
}

TEST(PosixPlatformTest, CopiesAndReadsFiles) {
  TestInstallation inst;
  PosixPlatform p;
  const std::string dv = inst.dv();
  inst.Write("from.tmp", "[T]\nx=1\n");
  inst.Write("have.ini", "[H]\n");
  EXPECT_FALSE(p.CopyFileIfMissing(dv + "/from.tmp", dv + "/have.ini"));
  EXPECT_EQ(inst.Read("have.ini"), "[H]\n");
  EXPECT_TRUE(p.CopyFileIfMissing(dv + "/from.tmp", dv + "/new.ini"));
  EXPECT_EQ(inst.Read("new.ini"), "[T]\nx=1\n");
  EXPECT_TRUE(p.CopyFile(dv + "/from.tmp", dv + "/have.ini"));
  EXPECT_EQ(inst.Read("have.ini"), "[T]\nx=1\n");
  // A missing template replaces nothing.
  EXPECT_FALSE(p.CopyFile(dv + "/none.tmp", dv + "/have.ini"));
  EXPECT_EQ(inst.Read("have.ini"), "[T]\nx=1\n");
  EXPECT_EQ(Temporaries(dv), std::vector<std::string>());

  inst.Write("big.sql", std::string(3000, 'a'));
  EXPECT_EQ(p.ReadPrefix(dv + "/big.sql", 2048), std::string(2048, 'a'));
  EXPECT_EQ(p.ReadPrefix(dv + "/none.sql", 2048), std::nullopt);
  EXPECT_EQ(p.ReadPrefix(dv, 2048), std::nullopt);
}

TEST(PosixPlatformTest, IsReadableNeverFaults) {
  PosixPlatform p;
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  auto* mem =
      static_cast<char*>(::mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE,
                                MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(mem, MAP_FAILED);
  ASSERT_EQ(::mprotect(mem + page, page, PROT_NONE), 0);
  struct Case {
    const char* name;
    const void* p;
    std::size_t size;
    bool want;
  } cases[] = {
      {"null", nullptr, 1, false},
      {"null, size 0", nullptr, 0, false},
      {"size 0", mem + page, 0, true},
      {"first page", mem, page, true},
      {"last byte before the hole", mem + page - 1, 1, true},
      {"runs into the hole", mem + page - 1, 2, false},
      {"three pages", mem, 3 * page, false},
      {"hole", mem + page, 1, false},
      {"after the hole", mem + 2 * page, page, true},
      {"overflow", mem, SIZE_MAX, false},
      {"huge", mem, SIZE_MAX / 2, false},
      {"wraps", reinterpret_cast<const void*>(UINTPTR_MAX - 10), 100, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(p.IsReadable(c.p, c.size), c.want);
  }
  ::munmap(mem, 3 * page);

  // Many pages: more probes than the pipe holds at once.
  const std::size_t pages = 2000;
  auto* big = static_cast<char*>(::mmap(nullptr, pages * page, PROT_READ,
                                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(big, MAP_FAILED);
  EXPECT_TRUE(p.IsReadable(big + 1, pages * page - 1));
  ::munmap(big, pages * page);
}

TEST(PosixPlatformTest, ModuleDirectoryIsTheExecutablesFolder) {
  char exe[PATH_MAX] = {};
  ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  std::string want(exe);
  want.resize(want.rfind('/'));
  char* saved = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir("/"), 0);
  PosixPlatform p;
  EXPECT_EQ(p.ModuleDirectory(), want);
  char* now = ::getcwd(nullptr, 0);
  EXPECT_EQ(std::string(now), want);
  std::free(now);
  ASSERT_EQ(::chdir(saved), 0);
  std::free(saved);
}

TEST(PosixPlatformTest, VolumeSerialStaysTheSameAndNoTerminalAnswersNo) {
  PosixPlatform a, b;
  EXPECT_EQ(a.VolumeSerial(), b.VolumeSerial());
  if (std::optional<std::string> id = a.ReadPrefix("/etc/machine-id", 128);
      id && id->size() > 1) {
    EXPECT_NE(a.VolumeSerial(), 0u);
  }
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::setsid();  // a new session has no controlling terminal
    ::_exit(a.AskYesNo("Replace?") ? 1 : 0);
  }
  ExpectExit(pid, 0);
}

}  // namespace
}  // namespace quillmore
