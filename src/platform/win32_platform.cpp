#include "platform/win32_platform.h"

#include <atomic>
#include <utility>

#include "platform/profile_integer.h"
#include "platform/win32_api.h"
#include "platform/win32_files.h"

namespace quillmore {
namespace {

// A change to a file this long after its write time moves the write time,
// even on file systems with a coarse clock (2 s on FAT).
constexpr std::uint64_t kSettle100ns = 30'000'000;

// Text from one code page to another, through UTF-16.
std::string Convert(std::string_view text, UINT from, UINT to) {
  if (text.empty()) return {};
  const int in = static_cast<int>(text.size());
  const int wide = ::MultiByteToWideChar(from, 0, text.data(), in, nullptr, 0);
  if (wide <= 0) return {};
  std::wstring w(static_cast<std::size_t>(wide), L'\0');
  ::MultiByteToWideChar(from, 0, text.data(), in, w.data(), wide);
  const int out = ::WideCharToMultiByte(to, 0, w.data(), wide, nullptr, 0,
                                        nullptr, nullptr);
  if (out <= 0) return {};
  std::string s(static_cast<std::size_t>(out), '\0');
  ::WideCharToMultiByte(to, 0, w.data(), wide, s.data(), out, nullptr, nullptr);
  return s;
}

// Names and values of a file with a byte-order mark are Unicode (held as
// UTF-8); the host's text is in the ANSI code page.
bool IsUnicode(const ProfileDocument& doc) {
  return doc.encoding() != ProfileEncoding::kBytes;
}
std::string ToDocument(const ProfileDocument& doc, const std::string& text) {
  return IsUnicode(doc) ? Convert(text, CP_ACP, CP_UTF8) : text;
}

std::uint64_t Now100ns() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
         now.dwLowDateTime;
}

const std::shared_ptr<const ProfileDocument>& EmptyDocument() {
  static const auto* empty = new std::shared_ptr<const ProfileDocument>(
      std::make_shared<const ProfileDocument>());
  return *empty;
}

bool IsReadableProtection(DWORD protect) {
  if ((protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return false;
  return (protect &
          (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

}  // namespace

struct Win32Platform::Cached {
  FileIdentity id;
  // The write time was old when the bytes were last compared, so any later
  // change moves it.
  bool settled = false;
  std::shared_ptr<const ProfileDocument> doc;
};

std::string Win32Platform::ModuleDirectory() {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  // A full buffer holds a cut path.
  if (n == 0 || n >= MAX_PATH) return {};
  std::string exe(path, n);
  const std::size_t slash = exe.rfind('\\');
  if (slash == std::string::npos || slash == 0) return {};
  exe.resize(slash);
  ::SetCurrentDirectoryA(exe.c_str());
  return exe;
}

std::uint32_t Win32Platform::VolumeSerial() {
  DWORD serial = 0;
  if (!::GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr, nullptr,
                               nullptr, 0)) {
    return 0;
  }
  return serial;
}

// VirtualQuery describes the pages without touching them: a guard page
// stays armed and nothing faults. Each region is asked about once, so the
// work is bounded by the number of regions the range spans.
bool Win32Platform::IsReadable(const void* p, std::size_t size) {
  if (p == nullptr) return false;
  if (size == 0) return true;
  const auto start = reinterpret_cast<std::uintptr_t>(p);
  if (size - 1 > UINTPTR_MAX - start) return false;  // wraps around
  const std::uintptr_t last = start + (size - 1);
  for (std::uintptr_t at = start;;) {
    MEMORY_BASIC_INFORMATION info;
    if (::VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info) ==
            0 ||
        info.State != MEM_COMMIT || !IsReadableProtection(info.Protect)) {
      return false;
    }
    const std::uintptr_t end =
        reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (end == 0 || end > last) return true;  // the region holds the rest
    at = end;
  }
}

bool Win32Platform::FileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32Platform::DeleteFile(const std::string& path) {
  return ::DeleteFileA(path.c_str()) != 0;
}

// The copy goes to a temporary file, is flushed, and is moved into place:
// a missing template or a full disk never touches the old file. Under the
// folder's lock, like profile writes, so a template copied over a
// configuration file can't undo a key written at the same moment.
bool Win32Platform::Copy(const std::string& from, const std::string& to,
                         bool replace) {
  Win32FolderLock lock(FolderOf(to));
  if (!lock.ok()) return false;
  RemoveStaleTemporaries(to);
  if (!replace && FileExists(to)) return false;
  const std::string tmp = TemporaryName(to);
  if (!::CopyFileA(from.c_str(), tmp.c_str(), TRUE)) return false;
  // The template's attributes (read-only) must not stop the flush.
  bool ok = ::SetFileAttributesA(tmp.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
  if (ok) {
    HANDLE h = ::CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ok = h != INVALID_HANDLE_VALUE && Win32FileCalls().flush(h);
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
  if (!ok) {
    ::DeleteFileA(tmp.c_str());
    return false;
  }
  return MoveIntoPlace(tmp, to, replace);
}

bool Win32Platform::CopyFile(const std::string& from, const std::string& to) {
  return Copy(from, to, true);
}

bool Win32Platform::CopyFileIfMissing(const std::string& from,
                                      const std::string& to) {
  return Copy(from, to, false);
}

std::optional<std::string> Win32Platform::ReadPrefix(const std::string& path,
                                                     std::size_t max_bytes) {
  std::string bytes;
  FileIdentity id;
  if (ReadWholeFile(path, max_bytes, bytes, id) != FileStatus::kPresent) {
    return std::nullopt;
  }
  return bytes;
}

bool Win32Platform::AskYesNo(const std::string& question) {
  return Win32FileCalls().message_box(
             nullptr, question.c_str(), "Quillmore",
             MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_SETFOREGROUND) ==
         IDYES;
}

std::shared_ptr<const ProfileDocument> Win32Platform::Document(
    const std::string& path, bool exact) {
  FileIdentity id;
  const FileStatus status = StatIdentity(path, id);
  if (status == FileStatus::kMissing) return EmptyDocument();
  if (status == FileStatus::kFailed) return nullptr;
  std::shared_ptr<Cached> cached;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = cache_.find(path);
    if (it != cache_.end()) cached = it->second;
  }
  if (cached != nullptr && !exact && cached->settled && cached->id == id) {
    return cached->doc;
  }
  // Taken before the bytes are read: what they show is at least this new.
  const std::uint64_t now = Now100ns();
  std::string bytes;
  const FileStatus read = ReadWholeFile(path, SIZE_MAX, bytes, id);
  if (read == FileStatus::kMissing) return EmptyDocument();
  if (read == FileStatus::kFailed) return nullptr;
  auto fresh = std::make_shared<Cached>();
  fresh->id = id;
  fresh->settled = id.write_time + kSettle100ns <= now;
  if (cached != nullptr && cached->doc->text() == bytes) {
    fresh->doc = cached->doc;
  } else {
    fresh->doc = std::make_shared<const ProfileDocument>(std::move(bytes));
    std::lock_guard<std::mutex> lock(mu_);
    ++parse_count_;
  }
  std::lock_guard<std::mutex> lock(mu_);
  if (cache_.size() >= 256 && cache_.find(path) == cache_.end()) {
    cache_.clear();  // bounded: a host uses a few devices
  }
  cache_[path] = fresh;
  return fresh->doc;
}

std::size_t Win32Platform::parse_count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return parse_count_;
}

std::optional<std::string> Win32Platform::Value(const std::string& path,
                                                const std::string& section,
                                                const std::string& key) {
  std::shared_ptr<const ProfileDocument> doc = Document(path, false);
  if (doc == nullptr) return std::nullopt;
  std::optional<std::string_view> v =
      doc->Find(ToDocument(*doc, section), ToDocument(*doc, key));
  if (!v) return std::nullopt;
  return IsUnicode(*doc) ? Convert(*v, CP_UTF8, CP_ACP) : std::string(*v);
}

std::string Win32Platform::ProfileString(const std::string& path,
                                         const std::string& section,
                                         const std::string& key,
                                         const std::string& def,
                                         std::size_t size) {
  if (size == 0) return {};
  std::optional<std::string> v = Value(path, section, key);
  std::string text = (v && !v->empty()) ? std::move(*v) : def;
  if (text.size() > size - 1) text.resize(size - 1);
  return text;
}

std::int32_t Win32Platform::ProfileInt(const std::string& path,
                                       const std::string& section,
                                       const std::string& key,
                                       std::int32_t def) {
  std::optional<std::string> v = Value(path, section, key);
  if (!v || v->empty()) return def;
  return ParseProfileInteger(*v);
}

void Win32Platform::WriteProfileString(const std::string& path,
                                       const std::string& section,
                                       const std::string& key,
                                       const std::string& value) {
  // One writer at a time per folder, across threads and processes: a
  // read-modify-write must not lose another writer's key.
  Win32FolderLock lock(FolderOf(path));
  if (!lock.ok()) return;
  RemoveStaleTemporaries(path);
  // Read anew under the lock: a file that exists but can't be read is never
  // replaced by one holding this key alone.
  std::shared_ptr<const ProfileDocument> current = Document(path, true);
  if (current == nullptr) return;
  ProfileDocument doc(*current);
  if (!doc.Set(ToDocument(doc, section), ToDocument(doc, key),
               ToDocument(doc, value))) {
    return;  // nothing to change
  }
  FileIdentity written;
  if (!ReplaceFileAtomically(path, doc.text(), written)) return;
  auto fresh = std::make_shared<Cached>();
  fresh->id = written;
  fresh->doc = std::make_shared<const ProfileDocument>(std::move(doc));
  std::lock_guard<std::mutex> guard(mu_);
  cache_[path] = fresh;
}

Platform* DefaultPlatform() {
  static Win32Platform* platform = new Win32Platform();  // never destroyed
  return platform;
}

namespace {
std::atomic<Platform*> g_override{nullptr};
}

Platform* CurrentPlatform() {
  Platform* p = g_override.load();
  return p != nullptr ? p : DefaultPlatform();
}

void SetPlatformForTesting(Platform* platform) { g_override.store(platform); }

}  // namespace quillmore
