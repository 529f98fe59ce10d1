#include "platform/posix_platform.h"

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

#include "platform/ascii.h"
#include "platform/posix_read_access.h"

namespace quillmore {
namespace {

// A change to a file this long after its time stamp moves the stamp, even
// on file systems with a coarse clock (2 s on FAT).
constexpr std::int64_t kSettleNs = 3'000'000'000;

// Retries a system call that was interrupted by a signal.
template <typename F>
auto Retry(F call) -> decltype(call()) {
  decltype(call()) r;
  do {
    r = call();
  } while (r == -1 && errno == EINTR);
  return r;
}

// Closes a descriptor when it leaves scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

int OpenRead(const std::string& path) {
  // O_NONBLOCK: a FIFO put in a file's place must not hang the caller.
  return Retry([&] {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  });
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

bool ReadAll(int fd, std::size_t max, std::string& out) {
  char buf[8192];
  while (out.size() < max) {
    const std::size_t want = std::min(sizeof buf, max - out.size());
    const ssize_t n = Retry([&] { return ::read(fd, buf, want); });
    if (n < 0) return false;
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
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
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder)
      : fd_(Retry([&] {
          return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        })) {
    locked_ = fd_.ok() &&
              Retry([&] { return ::flock(fd_.get(), LOCK_EX); }) == 0;
  }
  bool ok() const { return locked_; }
  int fd() const { return fd_.get(); }

 private:
  Fd fd_;
  bool locked_ = false;
};

// Removes temporary files of `path` that a killed writer left behind. Every
// writer holds the folder's lock while its temporary file exists, so under
// the lock any such file is a leftover; the age is a second guard.
void RemoveStaleTemporaries(const FolderLock& lock, const std::string& path) {
  const int dup = ::fcntl(lock.fd(), F_DUPFD_CLOEXEC, 0);
  if (dup < 0) return;
  DIR* dir = ::fdopendir(dup);
  if (dir == nullptr) {
    ::close(dup);
    return;
  }
  const std::string prefix = TemporaryPrefix(path);
  const std::int64_t cutoff =
      NowNs() - PosixPlatform::kStaleTemporarySeconds * 1'000'000'000;
  while (const struct dirent* e = ::readdir(dir)) {
    if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0) continue;
    struct stat st;
    if (::fstatat(lock.fd(), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode) && NanosOf(st.st_mtim) < cutoff) {
      ::unlinkat(lock.fd(), e->d_name, 0);
    }
  }
  ::closedir(dir);
}

// Writes `data` to a new file beside `path`, syncs it and renames it over
// `path`, so readers see the old or the new file, never a part; on any
// failure the temporary file is removed and `path` is untouched. `mode`
// applies when `keep_mode` (else 0666 under the umask). `written` receives
// the new file's status.
bool ReplaceFile(const std::string& path, std::string_view data, mode_t mode,
                 bool keep_mode, struct stat* written) {
  static std::atomic<unsigned> counter{0};
  std::string tmp;
  int raw = -1;
  for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
    tmp = Folder(path) + "/" + TemporaryPrefix(path) +
          std::to_string(::getpid()) + "." + std::to_string(counter++);
    raw = Retry([&] {
      return ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    0666);
    });
    if (raw < 0 && errno != EEXIST) return false;
  }
  Fd fd(raw);
  if (!fd.ok()) return false;
  bool ok = WriteAll(fd.get(), data);
  if (ok && keep_mode) ok = ::fchmod(fd.get(), mode) == 0;
  // The data reaches the disk before the name does: a crash leaves the old
  // file or the new one, never an empty one.
  if (ok) ok = Retry([&] { return PosixFileCalls().fsync(fd.get()); }) == 0;
  if (ok) ok = ::fstat(fd.get(), written) == 0;
  fd.Close();
  if (ok) ok = PosixFileCalls().rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

// Where a write really goes: a link to a file is followed, so the link
// stays a link.
std::string WriteTarget(const std::string& path) {
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

const std::shared_ptr<const ProfileDocument>& EmptyDocument() {
  static const auto* empty =
      new std::shared_ptr<const ProfileDocument>(
          std::make_shared<const ProfileDocument>());
  return *empty;
}

}  // namespace

FileCalls& PosixFileCalls() {
  static FileCalls calls{&SysWrite, &SysFsync, &SysRename};
  return calls;
}

std::string PosixPlatform::ModuleDirectory() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path);
  // A full buffer may hold a cut path.
  if (n <= 0 || n >= static_cast<ssize_t>(sizeof path)) return {};
  std::string exe(path, static_cast<std::size_t>(n));
  const std::size_t slash = exe.rfind('/');
  // An executable in "/" has no folder name to give.
  if (slash == std::string::npos || slash == 0) return {};
  exe.resize(slash);
  (void)::chdir(exe.c_str());
  return exe;
}

// There is no "c:\": the machine's identity (systemd's machine-id, which
// lives as long as the installation) stands for it, hashed to 32 bits; then
// the root file system's id; else 0.
std::uint32_t PosixPlatform::VolumeSerial() {
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

bool PosixPlatform::IsReadable(const void* p, std::size_t size) {
  return IsReadableMemory(p, size);
}

bool PosixPlatform::FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool PosixPlatform::DeleteFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool PosixPlatform::Copy(const std::string& from, const std::string& to,
                         bool replace) {
  const std::string target = WriteTarget(to);
  // Under the folder's lock, like profile writes: a template copied over a
  // configuration file can't undo a key written at the same moment.
  FolderLock lock(Folder(target));
  if (!lock.ok()) return false;
  RemoveStaleTemporaries(lock, target);
  struct stat st;
  if (!replace && ::lstat(target.c_str(), &st) == 0) return false;
  Fd in(OpenRead(from));
  if (!in.ok()) return false;
  if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::string data;
  if (!ReadAll(in.get(), static_cast<std::size_t>(st.st_size), data))
    return false;
  return ReplaceFile(target, data, st.st_mode & 07777, true, &st);
}

bool PosixPlatform::CopyFile(const std::string& from, const std::string& to) {
  return Copy(from, to, true);
}

bool PosixPlatform::CopyFileIfMissing(const std::string& from,
                                      const std::string& to) {
  return Copy(from, to, false);
}

std::optional<std::string> PosixPlatform::ReadPrefix(const std::string& path,
                                                     std::size_t max_bytes) {
  Fd fd(OpenRead(path));
  if (!fd.ok()) return std::nullopt;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::string data;
  if (!ReadAll(fd.get(), max_bytes, data)) return std::nullopt;
  return data;
}

bool PosixPlatform::AskYesNo(const std::string& question) {
  Fd tty(Retry(
      [] { return ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC); }));
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

PosixPlatform::Identity PosixPlatform::IdentityOf(const struct stat& st) {
  return Identity{st.st_dev, st.st_ino, st.st_size, NanosOf(st.st_mtim),
                  NanosOf(st.st_ctim)};
}

std::shared_ptr<const ProfileDocument> PosixPlatform::Document(
    const std::string& path, bool exact) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? EmptyDocument() : nullptr;
  }
  if (!S_ISREG(st.st_mode)) return nullptr;
  Identity id = IdentityOf(st);
  std::shared_ptr<const ProfileDocument> cached;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = cache_.find(path);
    if (it != cache_.end()) {
      if (!exact && it->second.settled && it->second.id == id)
        return it->second.doc;
      cached = it->second.doc;
    }
  }
  // Taken before the bytes are read: what they show is at least this new.
  const std::int64_t now = NowNs();
  Fd fd(OpenRead(path));
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return nullptr;
  }
  // The identity of what is really read, should the file have been replaced
  // between stat and open.
  id = IdentityOf(st);
  std::string text;
  if (!ReadAll(fd.get(), static_cast<std::size_t>(st.st_size), text)) {
    return nullptr;
  }
  std::shared_ptr<const ProfileDocument> doc;
  if (cached != nullptr && cached->text() == text) {
    doc = std::move(cached);
  } else {
    doc = std::make_shared<const ProfileDocument>(std::move(text));
    std::lock_guard<std::mutex> lock(mu_);
    ++parse_count_;
  }
  Remember(path, id,
           std::max(id.mtime_ns, id.ctime_ns) + kSettleNs <= now, doc);
  return doc;
}

void PosixPlatform::Remember(const std::string& path, const Identity& id,
                             bool settled,
                             std::shared_ptr<const ProfileDocument> doc) {
  std::lock_guard<std::mutex> lock(mu_);
  if (cache_.size() >= 256 && cache_.find(path) == cache_.end()) {
    cache_.clear();  // bounded: a host uses a few devices
  }
  cache_[path] = Cached{id, settled, std::move(doc)};
}

std::size_t PosixPlatform::parse_count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return parse_count_;
}

std::string PosixPlatform::ProfileString(const std::string& path,
                                         const std::string& section,
                                         const std::string& key,
                                         const std::string& def,
                                         std::size_t size) {
  if (size == 0) return {};
  std::shared_ptr<const ProfileDocument> doc = Document(path, false);
  std::optional<std::string_view> v;
  if (doc != nullptr) v = doc->Find(section, key);
  const std::string_view text =
      (v && !v->empty()) ? *v : std::string_view(def);
  return std::string(text.substr(0, size - 1));
}

std::int32_t PosixPlatform::ProfileInt(const std::string& path,
                                       const std::string& section,
                                       const std::string& key,
                                       std::int32_t def) {
  std::shared_ptr<const ProfileDocument> doc = Document(path, false);
  std::optional<std::int32_t> v;
  if (doc != nullptr) v = doc->FindInt(section, key);
  return v.value_or(def);
}

void PosixPlatform::WriteProfileString(const std::string& path,
                                       const std::string& section,
                                       const std::string& key,
                                       const std::string& value) {
  const std::string target = WriteTarget(path);
  // One writer at a time per folder, across threads and processes: a
  // read-modify-write must not lose another writer's key.
  FolderLock lock(Folder(target));
  if (!lock.ok()) return;
  RemoveStaleTemporaries(lock, target);

  struct stat st;
  bool exists = ::stat(target.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return;
  if (exists && !S_ISREG(st.st_mode)) return;
  // Read anew under the lock: a file that exists but can't be read is never
  // replaced by one holding this key alone.
  std::shared_ptr<const ProfileDocument> current = Document(target, true);
  if (current == nullptr) return;
  ProfileDocument doc(*current);
  if (!doc.Set(section, key, value)) return;  // nothing to change
  if (ReplaceFile(target, doc.text(), exists ? (st.st_mode & 07777) : 0,
                  exists, &st)) {
    Remember(target, IdentityOf(st), false,
             std::make_shared<const ProfileDocument>(std::move(doc)));
  }
}

Platform* DefaultPlatform() {
  static PosixPlatform* platform = new PosixPlatform();  // never destroyed
  return platform;
}

namespace {
std::atomic<Platform*> g_override{nullptr};
}

Platform* CurrentPlatform() {
  Platform* p = g_override.load();
  return p != nullptr ? p : DefaultPlatform();
}

void SetPlatformForTesting(Platform* platform) { g_override.store(platform); }

}  // namespace quillmore
