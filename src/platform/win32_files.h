// The Win32 file primitives the Win32 platform is built from, each small and
// on its own: a lock over a folder's writers, reading a whole file together
// with the identity of what was read, the identity of a file by name, and
// replacing a file in one step. Calls that change files go through one
// table so a test can make a single call fail.
//
// Threads: every function may be called from several threads at once.
#ifndef QUILLMORE_PLATFORM_WIN32_FILES_H_
#define QUILLMORE_PLATFORM_WIN32_FILES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/win32_api.h"

namespace quillmore {

// The calls that change files or ask the user; tests replace single
// entries.
struct Win32Calls {
  BOOL(WINAPI* write_file)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* flush)(HANDLE);
  BOOL(WINAPI* move)(LPCSTR from, LPCSTR to, DWORD flags);
  int(WINAPI* message_box)(HWND, LPCSTR text, LPCSTR caption, UINT type);
};
Win32Calls& Win32FileCalls();

// What tells one version of a file from another: the volume, the file's
// index on it, its size and its last write time (100 ns units).
struct FileIdentity {
  std::uint32_t volume = 0;
  std::uint64_t index = 0;
  std::uint64_t size = 0;
  std::uint64_t write_time = 0;
  bool operator==(const FileIdentity&) const = default;
};

enum class FileStatus { kPresent, kMissing, kFailed };

// The identity of the file at `path`. A folder, device or pipe is kFailed.
FileStatus StatIdentity(const std::string& path, FileIdentity& id);

// Up to `max_bytes` of the file at `path`, and the identity of the file the
// bytes came from. kMissing when neither the file nor its folder exists.
// Opened with every share mode, so a writer can replace it meanwhile.
FileStatus ReadWholeFile(const std::string& path, std::size_t max_bytes,
                         std::string& bytes, FileIdentity& id);

// Holds an exclusive lock (LockFileEx) on the lock file ".quillmore.lock"
// in `folder`, created when missing: one writer of the folder's files at a
// time, across threads (each lock has its own handle) and processes.
// Released with the object. Fails when the folder doesn't exist.
class Win32FolderLock {
 public:
  static constexpr const char* kLockName = ".quillmore.lock";
  explicit Win32FolderLock(const std::string& folder);
  Win32FolderLock(const Win32FolderLock&) = delete;
  Win32FolderLock& operator=(const Win32FolderLock&) = delete;
  ~Win32FolderLock();
  bool ok() const { return locked_; }

 private:
  HANDLE handle_;
  bool locked_ = false;
};

// How old a temporary file must be before a writer removes it.
inline constexpr std::int64_t kStaleTemporarySeconds = 300;

// The prefix of the temporary files that replace `path`, in its folder:
// ".<name>.tmp".
std::string TemporaryPrefix(const std::string& path);
// A new temporary file's name for `path` (".<name>.tmp<pid>.<n>").
std::string TemporaryName(const std::string& path);
// Removes temporary files of `path` older than kStaleTemporarySeconds.
// Call while holding the folder's lock: every writer holds it while its
// temporary file exists, so an old one was left by a killed writer.
void RemoveStaleTemporaries(const std::string& path);

// Moves `from` over `to` (MOVEFILE_REPLACE_EXISTING when `replace`,
// MOVEFILE_WRITE_THROUGH always), retrying for a short, bounded time while
// another program holds `to` open without sharing its deletion. On failure
// `from` is deleted and `to` is as it was.
bool MoveIntoPlace(const std::string& from, const std::string& to,
                   bool replace);

// Writes `data` to a new temporary file beside `path`, flushes it to the
// disk and moves it over `path` in one step, so readers see the old or the
// new file and a crash leaves one of them. The new file keeps the old one's
// hidden, system and archive attributes. `written` receives the new file's
// identity. On failure `path` is untouched and no temporary file is left.
bool ReplaceFileAtomically(const std::string& path, std::string_view data,
                           FileIdentity& written);

// The folder part of `path` ('\\' or '/' separators); "." when none.
std::string FolderOf(const std::string& path);

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_WIN32_FILES_H_
