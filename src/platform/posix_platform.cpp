#include "platform/posix_platform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <random>
#include <vector>

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

// Closes a descriptor when it leaves scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

ssize_t SysWrite(int fd, const void* buf, std::size_t n) {
  return ::write(fd, buf, n);
}
int SysRename(const char* from, const char* to) { return ::rename(from, to); }

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = Retry([&] { return PosixFileCalls().write(fd, data.data(), data.size()); });
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool ReadAll(int fd, std::size_t max, std::string& out) {
  char buf[8192];
  while (out.size() < max) {
    std::size_t want = std::min(sizeof buf, max - out.size());
    ssize_t n = Retry([&] { return ::read(fd, buf, want); });
    if (n < 0) return false;
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

std::string Folder(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Writes `data` to a new file beside `path` and renames it over `path`, so
// readers see the old or the new file, never a part. `mode` applies to the
// new file (0666 under the umask for a file that did not exist).
bool ReplaceFile(const std::string& path, std::string_view data, mode_t mode,
                 bool keep_mode) {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  std::string tmp = Folder(path) + "/." +
                    path.substr(path.rfind('/') == std::string::npos
                                    ? 0
                                    : path.rfind('/') + 1) +
                    ".tmp" + std::to_string(::getpid()) + "." +
                    std::to_string(rd()) + "." + std::to_string(counter++);
  Fd fd(Retry([&] {
    return ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  }));
  if (!fd.ok()) return false;
  bool ok = WriteAll(fd.get(), data);
  if (ok && keep_mode) ok = ::fchmod(fd.get(), mode) == 0;
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

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

}  // namespace

FileCalls& PosixFileCalls() {
  static FileCalls calls{&SysWrite, &SysRename};
  return calls;
}

std::string PosixPlatform::ModuleDirectory() {
  char path[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string exe(path, static_cast<std::size_t>(n));
  std::size_t slash = exe.rfind('/');
  if (slash == std::string::npos || slash == 0) return {};
  exe.resize(slash);
  (void)::chdir(exe.c_str());
  return exe;
}

std::uint32_t PosixPlatform::VolumeSerial() {
  // The machine's identity stays for the life of the installation.
  for (const char* f : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    std::optional<std::string> id = ReadPrefix(f, 128);
    if (id) {
      std::string_view v = *id;
      while (!v.empty() && (v.back() == '\n' || v.back() == ' ')) v.remove_suffix(1);
      if (!v.empty()) return Fnv1a(v);
    }
  }
  struct statvfs vfs;
  if (::statvfs("/", &vfs) == 0) return static_cast<std::uint32_t>(vfs.f_fsid);
  return 0;
}

bool PosixPlatform::IsReadable(const void* p, std::size_t size) {
  if (p == nullptr) return false;
  if (size == 0) return true;
  const auto start = reinterpret_cast<std::uintptr_t>(p);
  if (start + size < start) return false;
  const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  // One byte of every page the range touches: protection is per page.
  std::vector<std::uintptr_t> probes;
  for (std::uintptr_t a = start; a < start + size; a = (a / page + 1) * page) {
    probes.push_back(a);
  }
  // The kernel copies from our own address space and reports a fault as an
  // error instead of a signal.
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  Fd rd(fds[0]), wr(fds[1]);
  bool ok = true;
  char sink[256];
  for (std::size_t i = 0; i < probes.size() && ok; ++i) {
    // The raw system call: a sanitizer's write() wrapper would check the
    // byte itself instead of letting the kernel answer.
    ssize_t n = Retry([&] {
      return static_cast<ssize_t>(::syscall(
          SYS_write, wr.get(), reinterpret_cast<const void*>(probes[i]), 1));
    });
    ok = n == 1;
    if ((i + 1) % sizeof sink == 0 || i + 1 == probes.size()) {
      while (Retry([&] { return ::read(rd.get(), sink, sizeof sink); }) ==
             static_cast<ssize_t>(sizeof sink)) {
      }
    }
  }
  return ok;
}

bool PosixPlatform::FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool PosixPlatform::DeleteFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool PosixPlatform::CopyFile(const std::string& from, const std::string& to) {
  Fd in(Retry([&] { return ::open(from.c_str(), O_RDONLY | O_CLOEXEC); }));
  if (!in.ok()) return false;
  struct stat st;
  if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::string data;
  if (!ReadAll(in.get(), static_cast<std::size_t>(st.st_size), data))
    return false;
  return ReplaceFile(WriteTarget(to), data, st.st_mode & 07777, true);
}

std::optional<std::string> PosixPlatform::ReadPrefix(const std::string& path,
                                                     std::size_t max_bytes) {
  Fd fd(Retry([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
  if (!fd.ok()) return std::nullopt;
  std::string data;
  if (!ReadAll(fd.get(), max_bytes, data)) return std::nullopt;
  return data;
}

bool PosixPlatform::AskYesNo(const std::string& question) {
  Fd tty(Retry([] { return ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC); }));
  if (!tty.ok()) return false;
  const std::string prompt = question + " [y/N] ";
  if (!WriteAll(tty.get(), prompt)) return false;
  std::string answer;
  char c;
  while (Retry([&] { return ::read(tty.get(), &c, 1); }) == 1 && c != '\n') {
    if (answer.size() < 16) answer.push_back(c);
  }
  std::string_view a = TrimBlanks(answer);
  return !a.empty() && (a.front() == 'y' || a.front() == 'Y');
}

std::shared_ptr<const ProfileDocument> PosixPlatform::Document(
    const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    return std::make_shared<const ProfileDocument>();
  }
  Identity id{st.st_dev, st.st_ino, st.st_size,
              static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                  st.st_mtim.tv_nsec};
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = cache_.find(path);
    if (it != cache_.end() && it->second.id == id) return it->second.doc;
  }
  Fd fd(Retry([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }));
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0) {
    return std::make_shared<const ProfileDocument>();
  }
  // The identity of what was really read, should the file have been
  // replaced between stat and open.
  id = Identity{st.st_dev, st.st_ino, st.st_size,
                static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                    st.st_mtim.tv_nsec};
  std::string text;
  if (!ReadAll(fd.get(), static_cast<std::size_t>(st.st_size), text)) {
    return std::make_shared<const ProfileDocument>();
  }
  auto doc = std::make_shared<const ProfileDocument>(std::move(text));
  Remember(path, id, doc);
  return doc;
}

void PosixPlatform::Remember(const std::string& path, const Identity& id,
                             std::shared_ptr<const ProfileDocument> doc) {
  std::lock_guard<std::mutex> lock(mu_);
  ++parse_count_;
  if (cache_.size() >= 256) cache_.clear();  // bounded: a few devices in use
  cache_[path] = Cached{id, std::move(doc)};
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
  std::shared_ptr<const ProfileDocument> doc = Document(path);
  std::optional<std::string_view> v = doc->Find(section, key);
  std::string_view text = (v && !v->empty()) ? *v : std::string_view(def);
  return std::string(text.substr(0, size - 1));
}

std::int32_t PosixPlatform::ProfileInt(const std::string& path,
                                       const std::string& section,
                                       const std::string& key,
                                       std::int32_t def) {
  std::shared_ptr<const ProfileDocument> doc = Document(path);
  std::optional<std::string_view> v = doc->Find(section, key);
  if (!v || v->empty()) return def;
  std::string_view s = *v;
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  std::uint32_t n = 0;  // wraps modulo 2^32, as the Windows reader does
  for (char c : s) {
    if (c < '0' || c > '9') break;
    n = n * 10u + static_cast<std::uint32_t>(c - '0');
  }
  if (negative) n = 0u - n;
  return static_cast<std::int32_t>(n);
}

void PosixPlatform::WriteProfileString(const std::string& path,
                                       const std::string& section,
                                       const std::string& key,
                                       const std::string& value) {
  const std::string target = WriteTarget(path);
  // One writer at a time per folder, across threads and processes: a
  // read-modify-write must not lose another writer's key.
  Fd dir(Retry([&] {
    return ::open(Folder(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }));
  if (!dir.ok()) return;
  if (Retry([&] { return ::flock(dir.get(), LOCK_EX); }) != 0) return;

  struct stat st;
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) return;
  ProfileDocument doc(*Document(target));
  if (!doc.Set(section, key, value)) return;
  if (ReplaceFile(target, doc.text(), exists ? (st.st_mode & 07777) : 0,
                  exists)) {
    struct stat now;
    if (::stat(target.c_str(), &now) == 0) {
      Remember(target,
               Identity{now.st_dev, now.st_ino, now.st_size,
                        static_cast<std::int64_t>(now.st_mtim.tv_sec) *
                                1000000000 +
                            now.st_mtim.tv_nsec},
               std::make_shared<const ProfileDocument>(std::move(doc)));
    }
  }
  // The lock goes with the descriptor.
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
