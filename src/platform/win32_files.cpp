#include "platform/win32_files.h"

#include <algorithm>
#include <atomic>

#include "platform/system_platform.h"
#include "platform/win32_handles.h"

namespace quillmore {
namespace {

// The folder's lock file, made when missing.
constexpr const char* kLockName = ".quillmore.lock";
constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

std::uint64_t Join(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

// 100 ns units since 1601 as nanoseconds since 1970, which fit 64 bits.
std::int64_t UnixNs(std::uint64_t filetime) {
  constexpr std::uint64_t k1970 = 116'444'736'000'000'000ull;
  return (static_cast<std::int64_t>(filetime) -
          static_cast<std::int64_t>(k1970)) *
         100;
}

FileState StateAfter(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
             ? FileState::kMissing
             : FileState::kUnreadable;
}

// The identity and attributes of an open disk file; false for a folder, a
// device or a pipe.
bool IdentityOf(HANDLE h, ProfileFiles::Identity& id,
                std::uint32_t* attributes = nullptr) {
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;
  if (::GetFileType(h) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      !::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) {
    return false;
  }
  id.volume = info.dwVolumeSerialNumber;
  id.file = Join(info.nFileIndexHigh, info.nFileIndexLow);
  id.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
  id.modified_ns = UnixNs(Join(info.ftLastWriteTime.dwHighDateTime,
                               info.ftLastWriteTime.dwLowDateTime));
  id.changed_ns = UnixNs(static_cast<std::uint64_t>(basic.ChangeTime.QuadPart));
  if (attributes != nullptr) *attributes = info.dwFileAttributes;
  return true;
}

HANDLE OpenExisting(const std::string& path, DWORD access) {
  return ::CreateFileA(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteAll(HANDLE h, std::string_view data) {
  while (!data.empty()) {
    const DWORD want = static_cast<DWORD>(
        std::min<std::size_t>(data.size(), std::size_t{1} << 20));
    DWORD done = 0;
    if (!Win32FileCalls().write_file(h, data.data(), want, &done, nullptr) ||
        done == 0) {
      return false;
    }
    data.remove_prefix(done);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const std::size_t sep = path.find_last_of("\\/");
  return sep == std::string::npos ? "." : path.substr(0, sep);
}

std::string TemporaryPrefix(const std::string& path) {
  const std::size_t sep = path.find_last_of("\\/");
  return "." + (sep == std::string::npos ? path : path.substr(sep + 1)) +
         ".tmp";
}

// Holds LockFileEx on the folder's lock file; released with the handle.
class FolderLock : public ProfileFiles::Lock {
 public:
  explicit FolderLock(const std::string& folder)
      : h_(::CreateFileA((folder + "\\" + kLockName).c_str(),
                         GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr)) {
    OVERLAPPED at = {};
    // Blocks until the lock is ours.
    locked_ = h_.ok() &&
              ::LockFileEx(h_.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at);
  }
  ~FolderLock() override {
    OVERLAPPED at = {};
    if (locked_) ::UnlockFileEx(h_.get(), 0, 1, 0, &at);
  }
  bool ok() const { return locked_; }

 private:
  Handle h_;
  bool locked_ = false;
};

}  // namespace

Win32Calls& Win32FileCalls() {
  static Win32Calls calls{&::WriteFile, &::FlushFileBuffers, &::MoveFileExA,
                          &::MessageBoxA};
  return calls;
}

FileState SystemProfileFiles::Stat(const std::string& path, Identity& id) {
  Handle h(OpenExisting(path, FILE_READ_ATTRIBUTES));
  if (!h.ok()) return StateAfter(::GetLastError());
  return IdentityOf(h.get(), id) ? FileState::kPresent : FileState::kUnreadable;
}

ProfileFiles::Contents SystemProfileFiles::Read(const std::string& path,
                                                std::size_t max_bytes) {
  Contents c;
  // Every share mode: a writer may replace the file meanwhile.
  Handle h(OpenExisting(path, GENERIC_READ));
  if (!h.ok()) {
    c.state = StateAfter(::GetLastError());
    return c;
  }
  c.state = FileState::kUnreadable;
  if (!IdentityOf(h.get(), c.id, &c.permissions) || c.id.size > max_bytes) {
    return c;
  }
  c.bytes.resize(static_cast<std::size_t>(c.id.size));
  std::size_t got = 0;
  while (got < c.bytes.size()) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(
        std::min<std::size_t>(c.bytes.size() - got, std::size_t{1} << 20));
    if (!::ReadFile(h.get(), c.bytes.data() + got, want, &n, nullptr) ||
        n == 0) {
      c.bytes.clear();
      return c;
    }
    got += n;
  }
  c.permissions &= kKeptAttributes;
  c.state = FileState::kPresent;
  return c;
}

// Windows has no links that a rename would replace: the path itself.
std::string SystemProfileFiles::WriteTarget(const std::string& path) {
  return path;
}

std::unique_ptr<ProfileFiles::Lock> SystemProfileFiles::LockFolderOf(
    const std::string& path) {
  auto lock = std::make_unique<FolderLock>(FolderOf(path));
  if (!lock->ok()) return nullptr;
  return lock;
}

// Every writer holds the folder's lock while its temporary file exists, so
// under the lock any such file is a leftover; the age is a second guard.
void SystemProfileFiles::RemoveStaleTemporaries(const std::string& path) {
  const std::string folder = FolderOf(path);
  WIN32_FIND_DATAA found;
  const FindHandle find(::FindFirstFileA(
      (folder + "\\" + TemporaryPrefix(path) + "*").c_str(), &found));
  if (!find.ok()) return;
  const std::int64_t cutoff = NowNs() - kStaleTemporarySeconds * 1'000'000'000;
  do {
    const std::int64_t written =
        UnixNs(Join(found.ftLastWriteTime.dwHighDateTime,
                    found.ftLastWriteTime.dwLowDateTime));
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        written < cutoff) {
      ::DeleteFileA((folder + "\\" + found.cFileName).c_str());
    }
  } while (::FindNextFileA(find.get(), &found));
}

std::optional<ProfileFiles::Identity> SystemProfileFiles::Replace(
    const std::string& path, std::string_view bytes,
    std::optional<std::uint32_t> permissions) {
  static std::atomic<unsigned> counter{0};
  const std::string tmp = FolderOf(path) + "\\" + TemporaryPrefix(path) +
                          std::to_string(::GetCurrentProcessId()) + "." +
                          std::to_string(counter++);
  const DWORD keep = permissions ? (*permissions & kKeptAttributes) : 0;
  // Its identity is read through this handle, which needs the right to.
  Handle h(::CreateFileA(tmp.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0,
                         nullptr, CREATE_NEW,
                         keep != 0 ? keep : FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.ok()) return std::nullopt;
  // The data reaches the disk before the name does: a crash leaves the old
  // file or the new one, never an empty one.
  Identity id;
  bool ok = WriteAll(h.get(), bytes) && Win32FileCalls().flush(h.get()) &&
            IdentityOf(h.get(), id);
  h.Close();
  // A reader that opened the file without FILE_SHARE_DELETE holds it for a
  // moment; 50 tries 10 ms apart bound the wait.
  for (int attempt = 0; ok; ++attempt) {
    if (Win32FileCalls().move(
            tmp.c_str(), path.c_str(),
            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return id;
    }
    const DWORD error = ::GetLastError();
    ok = attempt < 50 &&
         (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED);
    if (ok) ::Sleep(10);
  }
  ::DeleteFileA(tmp.c_str());
  return std::nullopt;
}

std::int64_t SystemProfileFiles::NowNs() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return UnixNs(Join(now.dwHighDateTime, now.dwLowDateTime));
}

}  // namespace quillmore
