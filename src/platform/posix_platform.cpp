#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

#include "base/ascii.h"
#include "platform/posix_files.h"
#include "platform/posix_handles.h"
#include "platform/read_access.h"
#include "platform/system_platform.h"

namespace quillmore {
namespace {

// Retries a system call that was interrupted by a signal.
template <typename F>
auto Retry(F call) -> decltype(call()) {
  decltype(call()) r;
  do {
    r = call();
  } while (r == -1 && errno == EINTR);
  return r;
}

int OpenRead(const std::string& path) {
  // O_NONBLOCK: a FIFO put in a file's place must not hang the caller.
  return Retry(
      [&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); });
}

ssize_t SysWrite(int fd, const void* buf, std::size_t n) {
  return ::write(fd, buf, n);
}
int SysFsync(int fd) { return ::fdatasync(fd); }
int SysRename(const char* from, const char* to) { return ::rename(from, to); }

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = Retry(
        [&] { return PosixFileCalls().write(fd, data.data(), data.size()); });
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Reads until the end of the file or `max` bytes, straight into `out`: the
// first read asks for `expected` bytes (the size fstat gave), so a file that
// keeps its size takes one read.
bool ReadAll(int fd, std::size_t max, std::size_t expected, std::string& out) {
  std::size_t chunk = std::max<std::size_t>(expected, 4096);
  while (out.size() < max) {
    const std::size_t have = out.size();
    const std::size_t want = std::min(max - have, chunk);
    out.resize(have + want);
    const ssize_t n =
        Retry([&] { return ::read(fd, out.data() + have, want); });
    out.resize(have + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n <= 0) return n == 0;
    chunk = std::max(chunk, out.size());
  }
  return true;
}

std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The prefix of every temporary file that replaces `path`.
std::string TemporaryPrefix(const std::string& path) {
  return "." + BaseName(path) + ".tmp";
}

std::int64_t NanosOf(const struct timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

std::int64_t NowNs() {
  struct timespec t;
  ::clock_gettime(CLOCK_REALTIME, &t);
  return NanosOf(t);
}

// Holds an exclusive flock on a folder: one writer of the folder's files at
// a time, across threads (each lock has its own open descriptor) and
// processes. Released with the descriptor.
class FolderLock : public ProfileFiles::Lock {
 public:
  explicit FolderLock(const std::string& folder)
      : fd_(Retry([&] {
          return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        })) {
    locked_ =
        fd_.ok() && Retry([&] { return ::flock(fd_.get(), LOCK_EX); }) == 0;
  }
  bool ok() const { return locked_; }

 private:
  UniqueFd fd_;
  bool locked_ = false;
};

// Writes `data` to a new file beside `path`, syncs it and renames it over
// `path`, so readers see the old or the new file, never a part; on any
// failure the temporary file is removed and `path` is untouched. `mode`
// applies when given (else 0666 under the umask). `written` receives the
// new file's status.
bool ReplaceFile(const std::string& path, std::string_view data,
                 std::optional<mode_t> mode, struct stat* written) {
  static std::atomic<unsigned> counter{0};
  std::string tmp;
  int raw = -1;
  for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
    tmp = Folder(path) + "/" + TemporaryPrefix(path) +
          std::to_string(::getpid()) + "." + std::to_string(counter++);
    raw = Retry([&] {
      return ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    });
    if (raw < 0 && errno != EEXIST) return false;
  }
  UniqueFd fd(raw);
  if (!fd.ok()) return false;
  bool ok = WriteAll(fd.get(), data);
  // The mode only when the new file's own differs: a change of the inode
  // would make the sync below write more than the data.
  if (ok && mode) {
    struct stat fresh;
    ok = ::fstat(fd.get(), &fresh) == 0 &&
         ((fresh.st_mode & 07777) == *mode || ::fchmod(fd.get(), *mode) == 0);
  }
  // The data reaches the disk before the name does: a crash leaves the old
  // file or the new one, never an empty one.
  if (ok) ok = Retry([&] { return PosixFileCalls().fsync(fd.get()); }) == 0;
  if (ok) ok = PosixFileCalls().rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(tmp.c_str());
    return false;
  }
  // Read after the rename, which sets the change time on some file
  // systems (ext4): the identity a later stat of `path` gives. Through the
  // descriptor, so it is ours even if someone replaced `path` since.
  if (::fstat(fd.get(), written) != 0) *written = {};  // matches no file
  return true;
}

// Where a write really goes: a link to a file is followed, so the link
// stays a link.
std::string FollowLink(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  }
  return path;
}

std::uint32_t Fnv1a(std::string_view s) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : s) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

}  // namespace

FileCalls& PosixFileCalls() {
  static FileCalls calls{&SysWrite, &SysFsync, &SysRename};
  return calls;
}

std::string SystemPlatform::EnterModuleDirectory() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path);
  // A full buffer may hold a cut path.
  if (n <= 0 || n >= static_cast<ssize_t>(sizeof path)) return {};
  std::string exe(path, static_cast<std::size_t>(n));
  const std::size_t slash = exe.rfind('/');
  // An executable in "/" has no folder name to give.
  if (slash == std::string::npos || slash == 0) return {};
  exe.resize(slash);
  // Callers go on in whatever folder they are in when this one can't be
  // entered. (A cast to void doesn't quiet glibc's warn_unused_result, which
  // _FORTIFY_SOURCE turns on.)
  [[maybe_unused]] const int entered = ::chdir(exe.c_str());
  return exe;
}

// There is no "c:\": the machine's identity (systemd's machine-id, which
// lives as long as the installation) stands for it, hashed to 32 bits; then
// the root file system's id; else 0.
std::uint32_t SystemPlatform::VolumeSerial() {
  for (const char* f : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    std::optional<std::string> id = ReadPrefix(f, 128);
    if (id) {
      const std::string_view v = Trim(*id, " \t\r\n");
      if (!v.empty()) return Fnv1a(v);
    }
  }
  struct statvfs vfs;
  if (::statvfs("/", &vfs) == 0) return static_cast<std::uint32_t>(vfs.f_fsid);
  return 0;
}

bool SystemPlatform::IsReadable(const void* p, std::size_t size) {
  return IsReadableMemory(p, size);
}

bool SystemPlatform::FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool SystemPlatform::DeleteFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

std::optional<std::string> SystemPlatform::ReadPrefix(const std::string& path,
                                                      std::size_t max_bytes) {
  UniqueFd fd(OpenRead(path));
  if (!fd.ok()) return std::nullopt;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::string data;
  if (!ReadAll(fd.get(), max_bytes, static_cast<std::size_t>(st.st_size),
               data)) {
    return std::nullopt;
  }
  return data;
}

bool SystemPlatform::AskYesNo(const std::string& question) {
  UniqueFd tty(
      Retry([] { return ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC); }));
  if (!tty.ok()) return false;
  // A process in the background would be stopped by the terminal: nobody
  // is there to answer it.
  if (::tcgetpgrp(tty.get()) != ::getpgrp()) return false;
  const std::string prompt = question + " [y/N] ";
  if (!WriteAll(tty.get(), prompt)) return false;
  std::string answer;
  char c;
  while (Retry([&] { return ::read(tty.get(), &c, 1); }) == 1 && c != '\n') {
    if (answer.size() < 16) answer.push_back(c);
  }
  const std::string_view a = Trim(answer, " \t\r\n");
  return !a.empty() && (a.front() == 'y' || a.front() == 'Y');
}

namespace {

ProfileFiles::Identity IdentityOf(const struct stat& st) {
  return ProfileFiles::Identity{static_cast<std::uint64_t>(st.st_dev),
                                static_cast<std::uint64_t>(st.st_ino),
                                static_cast<std::uint64_t>(st.st_size),
                                NanosOf(st.st_mtim), NanosOf(st.st_ctim)};
}

FileState StateAfter(int error) {
  return error == ENOENT || error == ENOTDIR ? FileState::kMissing
                                             : FileState::kUnreadable;
}

}  // namespace

FileState SystemProfileFiles::Stat(const std::string& path, Identity& id) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return StateAfter(errno);
  if (!S_ISREG(st.st_mode)) return FileState::kUnreadable;
  id = IdentityOf(st);
  return FileState::kPresent;
}

ProfileFiles::Contents SystemProfileFiles::Read(const std::string& path,
                                                std::size_t max_bytes) {
  Contents c;
  UniqueFd fd(OpenRead(path));
  if (!fd.ok()) {
    c.state = StateAfter(errno);
    return c;
  }
  struct stat st;
  c.state = FileState::kUnreadable;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) > max_bytes ||
      !ReadAll(fd.get(), static_cast<std::size_t>(st.st_size),
               static_cast<std::size_t>(st.st_size), c.bytes)) {
    c.bytes.clear();
    return c;
  }
  // The identity of what was really read, should the file have been
  // replaced since a caller looked at it.
  c.state = FileState::kPresent;
  c.id = IdentityOf(st);
  c.permissions = st.st_mode & 07777;
  return c;
}

std::string SystemProfileFiles::WriteTarget(const std::string& path) {
  return FollowLink(path);
}

std::unique_ptr<ProfileFiles::Lock> SystemProfileFiles::LockFolderOf(
    const std::string& path) {
  auto lock = std::make_unique<FolderLock>(Folder(path));
  if (!lock->ok()) return nullptr;
  return lock;
}

// Every writer holds the folder's lock while its temporary file exists, so
// under the lock any such file is a leftover; the age is a second guard.
void SystemProfileFiles::RemoveStaleTemporaries(const std::string& path) {
  UniqueFd fd(Retry([&] {
    return ::open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }));
  if (!fd.ok()) return;
  const int folder = fd.get();
  const DirPtr dir(::fdopendir(folder));
  if (!dir) return;
  fd.release();  // the listing's now, closed with it
  const std::string prefix = TemporaryPrefix(path);
  const std::int64_t cutoff =
      NowNs() - SystemProfileFiles::kStaleTemporarySeconds * 1'000'000'000;
  while (const struct dirent* e = ::readdir(dir.get())) {
    if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0) continue;
    struct stat st;
    if (::fstatat(folder, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode) && NanosOf(st.st_mtim) < cutoff) {
      ::unlinkat(folder, e->d_name, 0);
    }
  }
}

std::optional<ProfileFiles::Identity> SystemProfileFiles::Replace(
    const std::string& path, std::string_view bytes,
    std::optional<std::uint32_t> permissions) {
  std::optional<mode_t> mode;
  if (permissions) mode = static_cast<mode_t>(*permissions);
  struct stat st;
  if (!ReplaceFile(path, bytes, mode, &st)) return std::nullopt;
  return IdentityOf(st);
}

std::int64_t SystemProfileFiles::NowNs() { return quillmore::NowNs(); }

Platform* DefaultPlatform() {
  static SystemPlatform* platform = new SystemPlatform();  // never destroyed
  return platform;
}

}  // namespace quillmore
