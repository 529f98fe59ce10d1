// The POSIX Platform. System calls go through one small table so a test can
// make a single call fail (a write, a rename) and check that nothing is
// lost.
#ifndef QUILLMORE_PLATFORM_POSIX_PLATFORM_H_
#define QUILLMORE_PLATFORM_POSIX_PLATFORM_H_

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
  int (*rename)(const char* from, const char* to);
};
FileCalls& PosixFileCalls();

class PosixPlatform : public Platform {
 public:
  PosixPlatform() = default;

  std::string ModuleDirectory() override;
  std::uint32_t VolumeSerial() override;
  bool IsReadable(const void* p, std::size_t size) override;
  bool FileExists(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  bool CopyFile(const std::string& from, const std::string& to) override;
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

  // How many times a profile file was parsed (for tests of the cache).
  std::size_t parse_count() const;

 private:
  struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    std::int64_t mtime_ns = 0;
    bool operator==(const Identity&) const = default;
  };
  struct Cached {
    Identity id;
    std::shared_ptr<const ProfileDocument> doc;
  };

  // The parsed file, from the cache when the file has not changed; an empty
  // document when the file is missing.
  std::shared_ptr<const ProfileDocument> Document(const std::string& path);
  void Remember(const std::string& path, const Identity& id,
                std::shared_ptr<const ProfileDocument> doc);

  mutable std::mutex mu_;
  std::unordered_map<std::string, Cached> cache_;
  std::size_t parse_count_ = 0;
};

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_POSIX_PLATFORM_H_
