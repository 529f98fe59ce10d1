// SystemPlatform: the platform interface on the system the library is built
// for, declared once; its calls are defined in posix_platform.cpp or in
// win32_platform.cpp, whichever the build compiles.
//
// Profile files go through ProfileStore (snapshots, transactions, the
// parsed-file cache) over the system's own calls, SystemProfileFiles
// (posix_files.h, win32_files.h). On Windows that
// replaces GetPrivateProfileStringA and WritePrivateProfileStringA, which
// re-read the file on every call and rewrite it in place.
//
// Linux: the module folder from /proc/self/exe; the volume serial from the
// machine's identity; readability of caller memory from read_access.h; the
// Yes/No question on the controlling terminal.
// Windows: the module folder from GetModuleFileNameA; the volume serial of
// C:\ from GetVolumeInformationA; readability from read_access.h
// (VirtualQuery); the Yes/No question in a MessageBoxA. On both the module
// folder is made the current directory.
//
// Threads: every call may be made from several threads at once.
#ifndef QUILLMORE_PLATFORM_SYSTEM_PLATFORM_H_
#define QUILLMORE_PLATFORM_SYSTEM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/profile_store.h"

namespace quillmore {

// The few calls ProfileStore is built from, on this system: how each system
// makes them is told in posix_files.h and win32_files.h.
class SystemProfileFiles : public ProfileFiles {
 public:
  // How old a leftover temporary file must be before a writer removes it.
  static constexpr std::int64_t kStaleTemporarySeconds = 300;

  FileState Stat(const std::string& path, Identity& id) override;
  Contents Read(const std::string& path, std::size_t max_bytes) override;
  std::string WriteTarget(const std::string& path) override;
  std::unique_ptr<Lock> LockFolderOf(const std::string& path) override;
  void RemoveStaleTemporaries(const std::string& path) override;
  // On Windows `permissions` are file attributes: hidden, system and
  // archive are kept (read-only is not: it would stop the next write).
  std::optional<Identity> Replace(
      const std::string& path, std::string_view bytes,
      std::optional<std::uint32_t> permissions) override;
  std::int64_t NowNs() override;
};

class SystemPlatform : public Platform {
 public:
  bool CopyFile(const std::string& from, const std::string& to) override {
    return store_.Copy(from, to);
  }
  ProfileSnapshot ReadProfile(const std::string& path) override {
    return store_.Read(path);
  }
  bool EditProfile(const std::string& path, const std::string& template_path,
                   const ProfileEdit& edit) override {
    return store_.Edit(path, template_path, edit);
  }
  // How many times a profile file's text was parsed (for tests of the
  // cache).
  std::size_t parse_count() const { return store_.parse_count(); }

  std::string EnterModuleDirectory() override;
  std::uint32_t VolumeSerial() override;
  bool IsReadable(const void* p, std::size_t size) override;
  bool FileExists(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  std::optional<std::string> ReadPrefix(const std::string& path,
                                        std::size_t max_bytes) override;
  bool AskYesNo(const std::string& question) override;

 private:
  SystemProfileFiles files_;
  ProfileStore store_{files_};
};

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_SYSTEM_PLATFORM_H_
