// The POSIX Platform. System calls that change files go through one small
// table so a test can make a single call fail (a write, a sync, a rename)
// and check that nothing is lost.
//
// Profile files: PosixProfileFiles gives ProfileStore (the cache and the
// transactions) its few system calls. The folder lock is an flock on the
// folder, taken through a descriptor of its own, so threads exclude each
// other as processes do. A file is replaced by writing a temporary file
// beside it (".<name>.tmp<pid>.<n>"), syncing it and renaming it over the
// file. Temporary files that a killed writer left behind are removed by a
// later writer of the same file once they are a few minutes old (the store
// says when it looks).
//
// Threads: every call may be made from several threads at once.
#ifndef QUILLMORE_PLATFORM_POSIX_PLATFORM_H_
#define QUILLMORE_PLATFORM_POSIX_PLATFORM_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/profile_store.h"

namespace quillmore {

// The system calls that change files; tests replace single entries.
struct FileCalls {
  ssize_t (*write)(int fd, const void* buf, std::size_t n);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
};
FileCalls& PosixFileCalls();

class PosixProfileFiles : public ProfileFiles {
 public:
  // How old a leftover temporary file must be before a writer removes it.
  static constexpr std::int64_t kStaleTemporarySeconds = 300;

  FileState Stat(const std::string& path, Identity& id) override;
  Contents Read(const std::string& path, std::size_t max_bytes) override;
  std::string WriteTarget(const std::string& path) override;
  std::unique_ptr<Lock> LockFolderOf(const std::string& path) override;
  void RemoveStaleTemporaries(const std::string& path) override;
  std::optional<Identity> Replace(
      const std::string& path, std::string_view bytes,
      std::optional<std::uint32_t> permissions) override;
  std::int64_t NowNs() override;
};

class PosixPlatform : public StoredProfilesPlatform<PosixProfileFiles> {
 public:
  PosixPlatform() = default;

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

#endif  // QUILLMORE_PLATFORM_POSIX_PLATFORM_H_
