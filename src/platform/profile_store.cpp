#include "platform/profile_store.h"

#include <algorithm>
#include <utility>

namespace quillmore {
namespace {

// A change to a file this long after its time stamp moves the stamp, even
// on file systems with a coarse clock (2 s on FAT).
constexpr std::int64_t kSettleNs = 3'000'000'000;

const std::shared_ptr<const ProfileDocument>& EmptyDocument() {
  static const auto* empty = new std::shared_ptr<const ProfileDocument>(
      std::make_shared<const ProfileDocument>());
  return *empty;
}

}  // namespace

ProfileSnapshot ProfileStore::Read(const std::string& path) {
  ProfileFiles::Identity id;
  const FileState state = files_.Stat(path, id);
  if (state != FileState::kPresent) return {state, EmptyDocument()};
  std::shared_ptr<const ProfileDocument> kept;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = cache_.find(path);
    if (it != cache_.end()) {
      if (it->second.settled && it->second.id == id)
        return {FileState::kPresent, it->second.document};
      kept = it->second.document;
    }
  }
  // Taken before the bytes are read: what they show is at least this new.
  const std::int64_t now = files_.NowNs();
  ProfileFiles::Contents c = files_.Read(path, ProfileDocument::kMaxBytes);
  if (c.state != FileState::kPresent) return {c.state, EmptyDocument()};
  std::shared_ptr<const ProfileDocument> document =
      kept != nullptr && kept->source() == c.bytes ? std::move(kept)
                                                   : Parse(std::move(c.bytes));
  const bool settled =
      std::max(c.id.modified_ns, c.id.changed_ns) + kSettleNs <= now;
  std::lock_guard<std::mutex> lock(mu_);
  if (cache_.size() >= 256 && cache_.find(path) == cache_.end()) {
    cache_.clear();  // bounded: a host uses a few devices
  }
  cache_[path] = Cached{c.id, settled, document};
  return {FileState::kPresent, std::move(document)};
}

std::shared_ptr<const ProfileDocument> ProfileStore::Parse(std::string bytes) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++parse_count_;
  }
  return std::make_shared<const ProfileDocument>(std::move(bytes));
}

bool ProfileStore::Edit(const std::string& path,
                        const std::string& template_path,
                        const ProfileEdit& edit) {
  const std::string target = files_.WriteTarget(path);
  // One writer at a time per folder, across threads and processes: a
  // read-modify-write must not lose another writer's keys.
  const std::unique_ptr<ProfileFiles::Lock> lock = files_.LockFolderOf(target);
  ProfileFiles::Contents c;
  if (lock != nullptr) c = files_.Read(target, ProfileDocument::kMaxBytes);
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
  ProfileDocument document(std::move(c.bytes));
  {
    std::lock_guard<std::mutex> guard(mu_);
    ++parse_count_;
  }
  edit(document);
  std::string text = document.changed() ? document.Text() : std::string();
  // Writes that left every byte as it was write nothing.
  if (!document.changed() || text == document.source()) {
    if (!from_template) return true;
    text = document.source();
  }
  return files_.Replace(target, text, permissions).has_value();
}

std::size_t ProfileStore::parse_count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return parse_count_;
}

}  // namespace quillmore
