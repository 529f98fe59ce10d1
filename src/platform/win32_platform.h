// The Win32 Platform: the platform interface on the Windows API.
//
// Module folder from GetModuleFileNameA (made the current directory with
// SetCurrentDirectoryA); volume serial of C:\ from GetVolumeInformationA;
// readability of caller memory from read_access.h (VirtualQuery); the
// Yes/No question in a MessageBoxA.
//
// Profile files go through the same ProfileStore as on Linux (snapshots,
// transactions, the parsed-file cache), over the Windows calls of
// Win32ProfileFiles (win32_files.h), not through GetPrivateProfileStringA
// and WritePrivateProfileStringA, which re-read the file on every call and
// rewrite it in place.
//
// Threads: every call may be made from several threads at once.
#ifndef QUILLMORE_PLATFORM_WIN32_PLATFORM_H_
#define QUILLMORE_PLATFORM_WIN32_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/profile_store.h"
#include "platform/win32_files.h"

namespace quillmore {

class Win32Platform : public StoredProfilesPlatform<Win32ProfileFiles> {
 public:
  Win32Platform() = default;

  std::string ModuleDirectory() override;
  std::uint32_t VolumeSerial() override;
  bool IsReadable(const void* p, std::size_t size) override;
  bool FileExists(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  std::optional<std::string> ReadPrefix(const std::string& path,
                                        std::size_t max_bytes) override;
  bool AskYesNo(const std::string& question) override;
};

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_WIN32_PLATFORM_H_
