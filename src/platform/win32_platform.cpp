#include <algorithm>

#include "platform/read_access.h"
#include "platform/system_platform.h"
#include "platform/win32_api.h"
#include "platform/win32_files.h"
#include "platform/win32_handles.h"

namespace quillmore {

std::string SystemPlatform::EnterModuleDirectory() {
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

std::uint32_t SystemPlatform::VolumeSerial() {
  DWORD serial = 0;
  if (!::GetVolumeInformationA("C:\\", nullptr, 0, &serial, nullptr, nullptr,
                               nullptr, 0)) {
    return 0;
  }
  return serial;
}

bool SystemPlatform::IsReadable(const void* p, std::size_t size) {
  return IsReadableMemory(p, size);
}

bool SystemPlatform::FileExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SystemPlatform::DeleteFile(const std::string& path) {
  return ::DeleteFileA(path.c_str()) != 0;
}

std::optional<std::string> SystemPlatform::ReadPrefix(const std::string& path,
                                                      std::size_t max_bytes) {
  const Handle h(
      ::CreateFileA(path.c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.ok()) return std::nullopt;
  std::optional<std::string> out;
  if (::GetFileType(h.get()) == FILE_TYPE_DISK) {
    out.emplace();
    char buf[8192];
    DWORD got = 1;
    while (out && got != 0 && out->size() < max_bytes) {
      const DWORD want = static_cast<DWORD>(
          std::min<std::size_t>(sizeof buf, max_bytes - out->size()));
      if (!::ReadFile(h.get(), buf, want, &got, nullptr)) {
        out.reset();
      } else {
        out->append(buf, got);
      }
    }
  }
  return out;
}

bool SystemPlatform::AskYesNo(const std::string& question) {
  return Win32FileCalls().message_box(
             nullptr, question.c_str(), "Quillmore",
             MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL | MB_SETFOREGROUND) ==
         IDYES;
}

Platform* DefaultPlatform() {
  static SystemPlatform* platform = new SystemPlatform();  // never destroyed
  return platform;
}

}  // namespace quillmore
