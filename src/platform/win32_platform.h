// The Win32 Platform: the platform interface on the Windows API.
//
// Module folder from GetModuleFileNameA (made the current directory with
// SetCurrentDirectoryA); volume serial of C:\ from GetVolumeInformationA;
// readability of caller memory from VirtualQuery (never touching the
// memory, so a guard page stays armed); the Yes/No question in a
// MessageBoxA.
//
// Profile files are read and edited by ProfileDocument, as on Linux, not by
// GetPrivateProfileStringA and WritePrivateProfileStringA, which re-read the
// file on every call and rewrite it in place. A read parses the file once
// and keeps the parsed document until the file changes (volume, file index,
// size, write time; a file written within the last few seconds is compared
// byte for byte). A write takes the folder's lock (Win32FolderLock), reads
// the file anew, writes the whole new text to a temporary file beside it,
// flushes it and moves it over the file in one step (win32_files.h). Values
// of a file with a byte-order mark (UTF-8 or UTF-16) are handed out in the
// ANSI code page, as Windows does, and written back in the file's encoding.
// Template copies go to a temporary file first and are moved into place.
//
// Threads: every call may be made from several threads at once.
#ifndef QUILLMORE_PLATFORM_WIN32_PLATFORM_H_
#define QUILLMORE_PLATFORM_WIN32_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/platform.h"
#include "platform/profile_document.h"

namespace quillmore {

class Win32Platform : public Platform {
 public:
  Win32Platform() = default;

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
  struct Cached;
  // The parsed file: an empty document when it is missing, nullptr when it
  // exists but can't be read. `exact` skips the identity-only shortcut (for
  // writers, who must never edit a stale copy).
  std::shared_ptr<const ProfileDocument> Document(const std::string& path,
                                                  bool exact);
  // The value of a key in the ANSI code page; nullopt when missing.
  std::optional<std::string> Value(const std::string& path,
                                   const std::string& section,
                                   const std::string& key);
  bool Copy(const std::string& from, const std::string& to, bool replace);

  mutable std::mutex mu_;
  std::unordered_map<std::string, std::shared_ptr<Cached>> cache_;
  std::size_t parse_count_ = 0;
};

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_WIN32_PLATFORM_H_
