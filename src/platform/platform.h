// The one door to the operating system. Every file, profile, folder and
// terminal access of the library goes through a Platform, so unit tests can
// run the library against a temporary folder and a fixed yes/no answer.
//
// Ownership: DataStore objects keep a non-owning pointer; DefaultPlatform()
// is never destroyed. Implementations must be safe to call from several
// threads at once (separate facades on separate threads share one).
#ifndef QUILLMORE_PLATFORM_PLATFORM_H_
#define QUILLMORE_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quillmore {

class Platform {
 public:
  virtual ~Platform() = default;

  // Folder of the running executable, without a trailing '/'. Also makes it
  // the process's current directory. Empty when it can't be determined.
  virtual std::string ModuleDirectory() = 0;

  // A number that stays the same for the same installation; 0 when none.
  virtual std::uint32_t VolumeSerial() = 0;

  // True when `size` bytes from `p` can be read. A null pointer fails; a
  // size of 0 passes for any other pointer. Never faults.
  virtual bool IsReadable(const void* p, std::size_t size) = 0;

  virtual bool FileExists(const std::string& path) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;
  // Copies `from` over `to` (replacing it atomically: a failed copy leaves
  // `to` as it was).
  virtual bool CopyFile(const std::string& from, const std::string& to) = 0;
  // Copies `from` to `to` only when `to` doesn't exist. The POSIX platform
  // makes the test and the copy one step for every writer of the folder, so
  // a concurrent profile write is never overwritten by a template.
  virtual bool CopyFileIfMissing(const std::string& from,
                                 const std::string& to) {
    return !FileExists(to) && CopyFile(from, to);
  }
  // Up to `max_bytes` from the start of the file; nullopt when it can't be
  // opened or read.
  virtual std::optional<std::string> ReadPrefix(const std::string& path,
                                                std::size_t max_bytes) = 0;

  // Yes/No question to the user; false when nobody can answer (no
  // controlling terminal, or the process is not in its foreground).
  virtual bool AskYesNo(const std::string& question) = 0;

  // Profile (INI) files. Section and key names match without regard to
  // case. A missing file reads as empty and is never created by a read.
  //
  // The value of `key`, trimmed, cut to `size` - 1 bytes; `def` (cut the
  // same way) when the key is missing or empty. size 0 gives "".
  virtual std::string ProfileString(const std::string& path,
                                    const std::string& section,
                                    const std::string& key,
                                    const std::string& def,
                                    std::size_t size) = 0;
  // Signed decimal from the value's leading sign and digits, wrapping modulo
  // 2^32; `def` when the key is missing or empty; 0 when it holds no digits.
  virtual std::int32_t ProfileInt(const std::string& path,
                                  const std::string& section,
                                  const std::string& key, std::int32_t def) = 0;
  // Writes one key (creating file, section and key as needed; never a
  // missing folder). Failures are not reported and never damage the file:
  // the whole new text replaces the file in one step, so a reader sees the
  // old or the new file, and writers of one folder take turns, so two
  // writers of different keys keep both. Writing the value a key already
  // has leaves the file untouched.
  virtual void WriteProfileString(const std::string& path,
                                  const std::string& section,
                                  const std::string& key,
                                  const std::string& value) = 0;
};

// The process-wide POSIX implementation; never destroyed.
Platform* DefaultPlatform();

// The platform new DataStore objects use: DefaultPlatform() unless a test
// has put another in place.
Platform* CurrentPlatform();
void SetPlatformForTesting(Platform* platform);  // nullptr restores default

// Forwards every call to another Platform; tests override single calls.
class PlatformWrapper : public Platform {
 public:
  explicit PlatformWrapper(Platform* target) : target_(target) {}
  std::string ModuleDirectory() override { return target_->ModuleDirectory(); }
  std::uint32_t VolumeSerial() override { return target_->VolumeSerial(); }
  bool IsReadable(const void* p, std::size_t size) override {
    return target_->IsReadable(p, size);
  }
  bool FileExists(const std::string& path) override {
    return target_->FileExists(path);
  }
  bool DeleteFile(const std::string& path) override {
    return target_->DeleteFile(path);
  }
  bool CopyFile(const std::string& from, const std::string& to) override {
    return target_->CopyFile(from, to);
  }
  bool CopyFileIfMissing(const std::string& from,
                         const std::string& to) override {
    return target_->CopyFileIfMissing(from, to);
  }
  std::optional<std::string> ReadPrefix(const std::string& path,
                                        std::size_t max_bytes) override {
    return target_->ReadPrefix(path, max_bytes);
  }
  bool AskYesNo(const std::string& question) override {
    return target_->AskYesNo(question);
  }
  std::string ProfileString(const std::string& path, const std::string& section,
                            const std::string& key, const std::string& def,
                            std::size_t size) override {
    return target_->ProfileString(path, section, key, def, size);
  }
  std::int32_t ProfileInt(const std::string& path, const std::string& section,
                          const std::string& key, std::int32_t def) override {
    return target_->ProfileInt(path, section, key, def);
  }
  void WriteProfileString(const std::string& path, const std::string& section,
                          const std::string& key,
                          const std::string& value) override {
    target_->WriteProfileString(path, section, key, value);
  }

 private:
  Platform* target_;
};

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_PLATFORM_H_
