// The POSIX Platform. System calls that change files go through one small
// table so a test can make a single call fail (a write, a sync, a rename)
// and check that nothing is lost.
//
// Profile files. A read parses the file once and keeps the parsed document
// until the file changes (device, inode, size, modification and change
// time). A file
// changed within the last few seconds is compared byte for byte on every
// read, since a change in the same clock tick keeps its time stamp. A write
// takes an advisory lock on the file's folder (flock), reads the file anew,
// writes the whole new text to a temporary file beside it
// (".<name>.tmp<pid>.<n>"), syncs it and renames it over the file.
// Temporary files that a killed writer left behind are removed by a later
// writer of the same file once they are a few minutes old.
//
// Threads: every call may be made from several threads at once.
#ifndef QUILLMORE_PLATFORM_POSIX_PLATFORM_H_
#define QUILLMORE_PLATFORM_POSIX_PLATFORM_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/platform.h"
#include "platform/profile_document.h"

namespace quillmore {

// The system calls that change files; tests replace single entries.
struct FileCalls {
  ssize_t (*write)(int fd, const void* buf, std::size_t n);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
};
FileCalls& PosixFileCalls();

class PosixPlatform : public Platform {
 public:
  // How old a leftover temporary file must be before a writer removes it.
  static constexpr std::int64_t kStaleTemporarySeconds = 300;

  PosixPlatform() = default;

  std::string ModuleDirectory() override;
  std::uint32_t VolumeSerial() override;
  bool IsReadable(const void* p, std::size_t size) override;
  bool FileExists(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  bool CopyFile(const std::string& from, const std::string& to) override;
  bool CopyFileIfMissing(const std::string& from,
                         const std::string& to) override;
  std::optional<std::string> ReadPrefix(const std::string& path,
                                        std::size_t max_bytes) override;
  bool AskYesNo(const std::string& question) override;
  std::string ProfileString(const std::string& path, const std::string& section,
                            const std::string& key, const std::string& def,
                            std::size_t size) override;
  std::int32_t ProfileInt(const std::string& path, const std::string& section,
                          const std::string& key, std::int32_t def) override;
  void WriteProfileString(const std::string& path, const std::string& section,
                          const std::string& key,
                          const std::string& value) override;

  // How many times a profile file's text was parsed (for tests of the
  // cache).
  std::size_t parse_count() const;

 private:
  struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    std::int64_t mtime_ns = 0;
    // No user call can set the change time back, as touch -r or cp -p do
    // with the modification time.
    std::int64_t ctime_ns = 0;
    bool operator==(const Identity&) const = default;
  };
  struct Cached {
    Identity id;
    // The file's time stamp was old when its bytes were last compared, so
    // any later change moves the time stamp.
    bool settled = false;
    std::shared_ptr<const ProfileDocument> doc;
  };

  static Identity IdentityOf(const struct stat& st);
  // The parsed file: an empty document when it is missing, nullptr when it
  // exists but can't be read. `exact` skips the stat-only shortcut (for
  // writers, who must never edit a stale copy).
  std::shared_ptr<const ProfileDocument> Document(const std::string& path,
                                                  bool exact);
  void Remember(const std::string& path, const Identity& id, bool settled,
                std::shared_ptr<const ProfileDocument> doc);
  bool Copy(const std::string& from, const std::string& to, bool replace);

  mutable std::mutex mu_;
  std::unordered_map<std::string, Cached> cache_;
  std::size_t parse_count_ = 0;
};

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_POSIX_PLATFORM_H_
