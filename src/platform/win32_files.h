// The Windows calls ProfileStore is built from (Win32ProfileFiles), the same
// few that PosixProfileFiles gives it on Linux:
// - the folder lock: LockFileEx on the lock file ".quillmore.lock" in the
//   folder (made when missing, hidden), through a handle of its own per
//   lock, so threads exclude each other as processes do;
// - identity: GetFileInformationByHandle (volume serial, file index, size,
//   last write time) and the change time from GetFileInformationByHandleEx,
//   which no user call sets back, as a copy that keeps the write time does;
// - replacing: a temporary file beside the file (".<name>.tmp<pid>.<n>"),
//   FlushFileBuffers, then MoveFileExA(MOVEFILE_REPLACE_EXISTING |
//   MOVEFILE_WRITE_THROUGH). A reader that holds the file open without
//   sharing its deletion delays a write by at most half a second.
// Calls that change files or ask the user go through one table so a test
// can make a single call fail.
//
// Threads: every call may be made from several threads at once.
#ifndef QUILLMORE_PLATFORM_WIN32_FILES_H_
#define QUILLMORE_PLATFORM_WIN32_FILES_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/profile_store.h"
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

class Win32ProfileFiles : public ProfileFiles {
 public:
  // How old a leftover temporary file must be before a writer removes it.
  static constexpr std::int64_t kStaleTemporarySeconds = 300;
  static constexpr const char* kLockName = ".quillmore.lock";

  FileState Stat(const std::string& path, Identity& id) override;
  Contents Read(const std::string& path, std::size_t max_bytes) override;
  // Windows has no links that a rename would replace: the path itself.
  std::string WriteTarget(const std::string& path) override { return path; }
  std::unique_ptr<Lock> LockFolderOf(const std::string& path) override;
  void RemoveStaleTemporaries(const std::string& path) override;
  // `permissions` are file attributes: hidden, system and archive are kept
  // (read-only is not: it would stop the next write).
  std::optional<Identity> Replace(
      const std::string& path, std::string_view bytes,
      std::optional<std::uint32_t> permissions) override;
  std::int64_t NowNs() override;
};

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_WIN32_FILES_H_
