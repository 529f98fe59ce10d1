// ProfileStore: the portable part of profile-file access, over a handful of
// operating-system calls (ProfileFiles) that each platform supplies.
//
// Reading: a parsed file is kept and handed out again while the file keeps
// its identity (volume, file number, size, modification and change time).
// A file changed within the last few seconds is also compared byte for byte
// once per read, since a change in the same clock tick keeps its time
// stamp.
//
// Writing: a transaction takes the folder's lock, reads the file anew,
// runs the edit and, when the text changed, replaces the file once (one
// temporary file, one sync, one rename). The edited document is kept with
// the bytes written: the next reader or transaction that reads those very
// bytes starts from it instead of parsing them again (until its edits
// outgrow the text it was parsed from). A file that exists but can't be
// read is never replaced. A new file gets the template's permissions when
// it was made from one; a replaced file keeps its own. Temporary files that
// a killed writer left are looked for on the store's first write of a file
// and then at most once a minute.
//
// Threads: every call may be made from several threads at once.
#ifndef QUILLMORE_PLATFORM_PROFILE_STORE_H_
#define QUILLMORE_PLATFORM_PROFILE_STORE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/platform.h"
#include "profile/profile_document.h"

namespace quillmore {

// What the store needs from the operating system.
class ProfileFiles {
 public:
  // Tells two versions of a file apart without reading it.
  struct Identity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    std::uint64_t size = 0;
    std::int64_t modified_ns = 0;
    // No user call can set the change time back, as touch -r or cp -p do
    // with the modification time.
    std::int64_t changed_ns = 0;
    bool operator==(const Identity&) const = default;
  };
  struct Contents {
    FileState state = FileState::kMissing;
    Identity id;  // of the bytes read
    std::string bytes;
    std::uint32_t permissions = 0;
  };
  // Held while a transaction runs; released when destroyed.
  class Lock {
   public:
    virtual ~Lock() = default;
  };

  virtual ~ProfileFiles() = default;
  // The state of the file at `path` and, when present, its identity.
  virtual FileState Stat(const std::string& path, Identity& id) = 0;
  // The file's bytes; unreadable when it holds more than `max_bytes`.
  virtual Contents Read(const std::string& path, std::size_t max_bytes) = 0;
  // Where a write of `path` goes: a link is followed, so it stays a link.
  virtual std::string WriteTarget(const std::string& path) = 0;
  // The lock of the folder that holds `path`, across threads and
  // processes; null when the folder can't be locked.
  virtual std::unique_ptr<Lock> LockFolderOf(const std::string& path) = 0;
  // Under that lock: removes the temporary files of `path` that a killed
  // writer left, once they are old.
  virtual void RemoveStaleTemporaries(const std::string& path) = 0;
  // Replaces `path` by `bytes` in one step, with `permissions` when given;
  // nullopt (the file untouched, no temporary file left) on failure.
  virtual std::optional<Identity> Replace(
      const std::string& path, std::string_view bytes,
      std::optional<std::uint32_t> permissions) = 0;
  // The wall clock, in nanoseconds: the time stamps' clock.
  virtual std::int64_t NowNs() = 0;
};

class ProfileStore {
 public:
  explicit ProfileStore(ProfileFiles& files) : files_(files) {}

  ProfileSnapshot Read(const std::string& path);
  bool Edit(const std::string& path, const std::string& template_path,
            const ProfileEdit& edit);
  // Copies `from` over `to` in one replace, under the folder's lock like a
  // transaction: a template copied over a file can't undo a transaction
  // running at the same moment. `to` keeps `from`'s permissions.
  bool Copy(const std::string& from, const std::string& to);

  // How many times a file's text was parsed (for tests of the cache).
  std::size_t parse_count() const;

 private:
  struct Cached {
    ProfileFiles::Identity id;
    // The time stamp was old when the bytes were last compared, so any
    // later change moves it.
    bool settled = false;
    std::shared_ptr<const ProfileDocument> document;
    // The file's bytes when a transaction made the document (its source()
    // is the text before the edits); null when it was parsed from them.
    std::shared_ptr<const std::string> written;
    const std::string& bytes() const {
      return written != nullptr ? *written : document->source();
    }
  };

  Cached Kept(const std::string& path) const;
  // Kept(path), no longer kept.
  Cached Take(const std::string& path);
  // Under the folder's lock: leftovers of killed writers go on a file's
  // first write and then at most once a minute, not with every write.
  void SweepIfDue(const std::string& target);
  void Keep(const std::string& path, Cached entry);
  std::shared_ptr<const ProfileDocument> Parse(std::string bytes);

  ProfileFiles& files_;
  mutable std::mutex mu_;
  std::unordered_map<std::string, Cached> cache_;
  std::unordered_map<std::string, std::int64_t> swept_;  // when, by target
  std::size_t parse_count_ = 0;
};

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_PROFILE_STORE_H_
