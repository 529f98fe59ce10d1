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
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "profile/profile_document.h"

namespace quillmore {

enum class FileState { kPresent, kMissing, kUnreadable };

// One parsed state of a profile file, shared with other readers and never
// changed: everything one operation reads comes from one snapshot, so it
// sees a writer's whole transaction or none of it.
struct ProfileSnapshot {
  FileState state = FileState::kMissing;
  // Never null; empty when the file is missing or can't be read.
  std::shared_ptr<const ProfileDocument> document;
};

// The edit of a transaction: reads and sets keys of the file's document.
using ProfileEdit = std::function<void(ProfileDocument& file)>;

class Platform {
 public:
  virtual ~Platform() = default;

  // Makes the folder of the running executable the process's current
  // directory, a change the whole process sees, on every call, and gives
  // that folder, without a trailing '/'. Empty when it can't be determined.
  virtual std::string EnterModuleDirectory() = 0;

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
  // Up to `max_bytes` from the start of the file; nullopt when it can't be
  // opened or read.
  virtual std::optional<std::string> ReadPrefix(const std::string& path,
                                                std::size_t max_bytes) = 0;

  // Yes/No question to the user; false when nobody can answer (no
  // controlling terminal, or the process is not in its foreground).
  virtual bool AskYesNo(const std::string& question) = 0;

  // Profile (INI) files. Section and key names match without regard to
  // case (ProfileDocument).
  //
  // The file as one snapshot. A missing file reads as empty and is never
  // created by a read; so does one that can't be read (told apart by the
  // state).
  virtual ProfileSnapshot ReadProfile(const std::string& path) = 0;
  // One transaction: under a lock that every writer of the file's folder
  // takes (threads and processes alike), reads the file anew, lets `edit`
  // read and set its keys, and replaces the file in one step when the text
  // changed: a reader sees the old file or the new one. A missing file
  // starts from the bytes of `template_path` when that is not empty (and
  // the file is then written even when `edit` changed nothing), else empty.
  // `edit` runs exactly once; when the folder can't be locked (it is
  // missing) or the file can't be read, it runs on an empty document and
  // nothing is written. Returns true when the file holds the edit's result.
  virtual bool EditProfile(const std::string& path,
                           const std::string& template_path,
                           const ProfileEdit& edit) = 0;
};

// The process-wide implementation for this system (POSIX or Win32); never
// destroyed.
Platform* DefaultPlatform();

// The platform new DataStore objects use: DefaultPlatform() unless a test
// has put another in place.
Platform* CurrentPlatform();
void SetPlatformForTesting(Platform* platform);  // nullptr restores default

// Forwards every call to another Platform; tests override single calls.
class PlatformWrapper : public Platform {
 public:
  explicit PlatformWrapper(Platform* target) : target_(target) {}
  std::string EnterModuleDirectory() override {
    return target_->EnterModuleDirectory();
  }
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
  std::optional<std::string> ReadPrefix(const std::string& path,
                                        std::size_t max_bytes) override {
    return target_->ReadPrefix(path, max_bytes);
  }
  bool AskYesNo(const std::string& question) override {
    return target_->AskYesNo(question);
  }
  ProfileSnapshot ReadProfile(const std::string& path) override {
    return target_->ReadProfile(path);
  }
  bool EditProfile(const std::string& path, const std::string& template_path,
                   const ProfileEdit& edit) override {
    return target_->EditProfile(path, template_path, edit);
  }

 private:
  Platform* target_;
};

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_PLATFORM_H_
