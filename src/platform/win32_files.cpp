#include "platform/win32_files.h"

#include <algorithm>
#include <atomic>

namespace quillmore {
namespace {

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Closes a handle when it leaves scope.
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }
  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  void Close() {
    if (ok()) ::CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_;
};

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::uint64_t Join(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

// The identity of an open disk file; false for anything else.
bool IdentityOf(HANDLE h, FileIdentity& id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(h) != FILE_TYPE_DISK ||
      !::GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  id.volume = info.dwVolumeSerialNumber;
  id.index = Join(info.nFileIndexHigh, info.nFileIndexLow);
  id.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
  id.write_time = Join(info.ftLastWriteTime.dwHighDateTime,
                       info.ftLastWriteTime.dwLowDateTime);
  return true;
}

FileStatus OpenStatus() {
  return IsMissing(::GetLastError()) ? FileStatus::kMissing
                                     : FileStatus::kFailed;
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

std::size_t LastSeparator(const std::string& path) {
  return path.find_last_of("\\/");
}

std::uint64_t NowFileTime() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return Join(now.dwHighDateTime, now.dwLowDateTime);
}

}  // namespace

Win32Calls& Win32FileCalls() {
  static Win32Calls calls{&::WriteFile, &::FlushFileBuffers, &::MoveFileExA,
                          &::MessageBoxA};
  return calls;
}

FileStatus StatIdentity(const std::string& path, FileIdentity& id) {
  Handle h(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.ok()) return OpenStatus();
  return IdentityOf(h.get(), id) ? FileStatus::kPresent : FileStatus::kFailed;
}

FileStatus ReadWholeFile(const std::string& path, std::size_t max_bytes,
                         std::string& bytes, FileIdentity& id) {
  Handle h(::CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.ok()) return OpenStatus();
  if (!IdentityOf(h.get(), id)) return FileStatus::kFailed;
  bytes.clear();
  bytes.reserve(
      static_cast<std::size_t>(std::min<std::uint64_t>(id.size, max_bytes)));
  char buf[8192];
  while (bytes.size() < max_bytes) {
    const DWORD want = static_cast<DWORD>(
        std::min<std::size_t>(sizeof buf, max_bytes - bytes.size()));
    DWORD got = 0;
    if (!::ReadFile(h.get(), buf, want, &got, nullptr)) {
      return FileStatus::kFailed;
    }
    if (got == 0) break;
    bytes.append(buf, got);
  }
  return FileStatus::kPresent;
}

Win32FolderLock::Win32FolderLock(const std::string& folder)
    : handle_(::CreateFileA((folder + "\\" + kLockName).c_str(),
                            GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr)) {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  OVERLAPPED at = {};
  // Blocks until the lock is ours.
  locked_ = ::LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
}

Win32FolderLock::~Win32FolderLock() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  if (locked_) {
    OVERLAPPED at = {};
    ::UnlockFileEx(handle_, 0, 1, 0, &at);
  }
  ::CloseHandle(handle_);
}

std::string FolderOf(const std::string& path) {
  const std::size_t sep = LastSeparator(path);
  return sep == std::string::npos ? "." : path.substr(0, sep);
}

std::string TemporaryPrefix(const std::string& path) {
  const std::size_t sep = LastSeparator(path);
  return "." + (sep == std::string::npos ? path : path.substr(sep + 1)) +
         ".tmp";
}

std::string TemporaryName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return FolderOf(path) + "\\" + TemporaryPrefix(path) +
         std::to_string(::GetCurrentProcessId()) + "." +
         std::to_string(counter++);
}

void RemoveStaleTemporaries(const std::string& path) {
  const std::string folder = FolderOf(path);
  WIN32_FIND_DATAA found;
  HANDLE find = ::FindFirstFileA(
      (folder + "\\" + TemporaryPrefix(path) + "*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  const std::uint64_t cutoff =
      NowFileTime() - std::uint64_t{kStaleTemporarySeconds} * 10'000'000;
  do {
    const std::uint64_t written = Join(found.ftLastWriteTime.dwHighDateTime,
                                       found.ftLastWriteTime.dwLowDateTime);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        written < cutoff) {
      ::DeleteFileA((folder + "\\" + found.cFileName).c_str());
    }
  } while (::FindNextFileA(find, &found));
  ::FindClose(find);
}

bool MoveIntoPlace(const std::string& from, const std::string& to,
                   bool replace) {
  const DWORD flags =
      MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : DWORD{0});
  // A reader that opened the file without FILE_SHARE_DELETE holds it for a
  // moment; 50 tries 10 ms apart bound the wait.
  for (int attempt = 0;; ++attempt) {
    if (Win32FileCalls().move(from.c_str(), to.c_str(), flags)) return true;
    const DWORD error = ::GetLastError();
    if (attempt == 50 ||
        (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)) {
      break;
    }
    ::Sleep(10);
  }
  ::DeleteFileA(from.c_str());
  return false;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view data,
                           FileIdentity& written) {
  const std::string tmp = TemporaryName(path);
  Handle h(::CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_HIDDEN, nullptr));
  if (!h.ok()) return false;
  // The data reaches the disk before the name does: a crash leaves the old
  // file or the new one, never an empty one.
  bool ok = WriteAll(h.get(), data) && Win32FileCalls().flush(h.get()) &&
            IdentityOf(h.get(), written);
  h.Close();
  const DWORD old = ::GetFileAttributesA(path.c_str());
  const DWORD keep =
      old == INVALID_FILE_ATTRIBUTES
          ? FILE_ATTRIBUTE_NORMAL
          : old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                   FILE_ATTRIBUTE_ARCHIVE);
  ok = ok && ::SetFileAttributesA(tmp.c_str(),
                                  keep != 0 ? keep : FILE_ATTRIBUTE_NORMAL);
  if (!ok) {
    ::DeleteFileA(tmp.c_str());
    return false;
  }
  return MoveIntoPlace(tmp, path, true);
}

}  // namespace quillmore
