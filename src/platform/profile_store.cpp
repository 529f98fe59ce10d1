#include "platform/profile_store.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <utility>

namespace quillmore {
namespace {

// A change to a file this long after its time stamp moves the stamp, even
// on file systems with a coarse clock (2 s on FAT).
constexpr std::int64_t kSettleNs = 3'000'000'000;
constexpr std::int64_t kSweepEveryNs = 60'000'000'000;

const std::shared_ptr<const ProfileDocument>& EmptyDocument() {
  static const auto* empty = new std::shared_ptr<const ProfileDocument>(
      std::make_shared<const ProfileDocument>());
  return *empty;
}

}  // namespace

ProfileStore::Cached ProfileStore::Kept(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = cache_.find(path);
  return it != cache_.end() ? it->second : Cached{};
}

ProfileStore::Cached ProfileStore::Take(const std::string& path) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = cache_.find(path);
  if (it == cache_.end()) return Cached{};
  Cached taken = std::move(it->second);
  cache_.erase(it);
  return taken;
}

void ProfileStore::Keep(const std::string& path, Cached entry) {
  std::lock_guard<std::mutex> lock(mu_);
  if (cache_.size() >= 256 && cache_.find(path) == cache_.end()) {
    cache_.clear();  // bounded: a host uses a few devices
  }
  cache_[path] = std::move(entry);
}

void ProfileStore::SweepIfDue(const std::string& target) {
  const std::int64_t now = files_.NowNs();
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (swept_.size() >= 256 && swept_.find(target) == swept_.end()) {
      swept_.clear();  // bounded, as the cache
    }
    auto [it, first] = swept_.try_emplace(target, now);
    if (!first && now - it->second >= 0 && now - it->second < kSweepEveryNs)
      return;
    it->second = now;
  }
  files_.RemoveStaleTemporaries(target);
}

ProfileSnapshot ProfileStore::Read(const std::string& path) {
  ProfileFiles::Identity id;
  const FileState state = files_.Stat(path, id);
  if (state != FileState::kPresent) return {state, EmptyDocument()};
  Cached kept = Kept(path);
  if (kept.document != nullptr && kept.settled && kept.id == id)
    return {FileState::kPresent, kept.document};
  // Taken before the bytes are read: what they show is at least this new.
  const std::int64_t now = files_.NowNs();
  ProfileFiles::Contents c = files_.Read(path, ProfileDocument::kMaxBytes);
  if (c.state != FileState::kPresent) return {c.state, EmptyDocument()};
  if (kept.document == nullptr || kept.bytes() != c.bytes)
    kept = Cached{{}, false, Parse(std::move(c.bytes)), nullptr};
  kept.id = c.id;
  kept.settled = std::max(c.id.modified_ns, c.id.changed_ns) + kSettleNs <= now;
  Keep(path, kept);
  return {FileState::kPresent, kept.document};
}

std::shared_ptr<const ProfileDocument> ProfileStore::Parse(std::string bytes) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++parse_count_;
  }
  // Not const itself: a transaction may edit it once nobody else holds it.
  return std::make_shared<ProfileDocument>(std::move(bytes));
}

bool ProfileStore::Edit(const std::string& path,
                        const std::string& template_path,
                        const ProfileEdit& edit) {
  const std::string target = files_.WriteTarget(path);
  // One writer at a time per folder, across threads and processes: a
  // read-modify-write must not lose another writer's keys.
  const std::unique_ptr<ProfileFiles::Lock> lock = files_.LockFolderOf(target);
  ProfileFiles::Contents c;
  if (lock != nullptr) {
    SweepIfDue(target);
    c = files_.Read(target, ProfileDocument::kMaxBytes);
  }
  // A file that exists but can't be read is never replaced by one holding
  // this edit's keys alone.
  if (lock == nullptr || c.state == FileState::kUnreadable) {
    ProfileDocument nothing;
    edit(nothing);
    return false;
  }
  std::optional<std::uint32_t> permissions;
  bool from_template = false;
  if (c.state == FileState::kPresent) {
    permissions = c.permissions;
  } else if (!template_path.empty()) {
    ProfileFiles::Contents t =
        files_.Read(template_path, ProfileDocument::kMaxBytes);
    if (t.state == FileState::kPresent) {
      c.bytes = std::move(t.bytes);
      permissions = t.permissions;
      from_template = true;
    }
  }
  // The kept document when it holds these very bytes (edited in place when
  // nothing else holds it, else copied), or the bytes parsed afresh.
  Cached kept = c.state == FileState::kPresent ? Take(target) : Cached{};
  const bool reuse = kept.document != nullptr && kept.bytes() == c.bytes &&
                     kept.document->edited_bytes() <= c.bytes.size();
  std::shared_ptr<ProfileDocument> document;
  if (!reuse) {
    document = std::const_pointer_cast<ProfileDocument>(Parse(c.bytes));
  } else if (kept.document.use_count() == 1) {
    // Ours alone: the cache let it go, so no reader can take it any more;
    // the fence orders our edits after the last reader's reads.
    std::atomic_thread_fence(std::memory_order_acquire);
    document = std::const_pointer_cast<ProfileDocument>(kept.document);
  } else {
    document = std::make_shared<ProfileDocument>(*kept.document);
  }
  kept.document.reset();
  edit(*document);
  std::string text = document->changed() ? document->Text() : std::string();
  // Writes that left every byte as it was write nothing.
  if (!document->changed() || text == c.bytes) {
    if (!from_template) {
      Keep(target, Cached{c.id, false, std::move(document),
                          reuse ? kept.written : nullptr});
      return true;
    }
    text = c.bytes;
  }
  const std::optional<ProfileFiles::Identity> id =
      files_.Replace(target, text, permissions);
  if (!id) return false;
  Keep(target, Cached{*id, false, std::move(document),
                      std::make_shared<const std::string>(std::move(text))});
  return true;
}

bool ProfileStore::Copy(const std::string& from, const std::string& to) {
  const std::string target = files_.WriteTarget(to);
  const std::unique_ptr<ProfileFiles::Lock> lock = files_.LockFolderOf(target);
  if (lock == nullptr) return false;
  SweepIfDue(target);
  ProfileFiles::Contents c = files_.Read(from, SIZE_MAX);
  if (c.state != FileState::kPresent) return false;
  return files_.Replace(target, c.bytes, c.permissions).has_value();
}

std::size_t ProfileStore::parse_count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return parse_count_;
}

}  // namespace quillmore
