// The Windows calls ProfileStore is built from (SystemProfileFiles, declared
// in system_platform.h, defined in win32_files.cpp), the same few as on
// Linux:
// - the folder lock: LockFileEx on the lock file ".quillmore.lock" in the
//   folder (made when missing, hidden), through a handle of its own per
//   lock, so threads exclude each other as processes do;
// - identity: GetFileInformationByHandle (volume serial, file index, size,
//   last write time) and the change time from GetFileInformationByHandleEx,
//   which no user call sets back, as a copy that keeps the write time does;
// - replacing: a temporary file beside the file (".<name>.tmp<pid>.<n>"),
//   FlushFileBuffers, then MoveFileExA(MOVEFILE_REPLACE_EXISTING |
//   MOVEFILE_WRITE_THROUGH). A reader that holds the file open without
//   sharing its deletion delays a write by at most half a second.
// Calls that change files or ask the user go through one table so a test
// can make a single call fail.
//
// Threads: every call may be made from several threads at once.
#ifndef QUILLMORE_PLATFORM_WIN32_FILES_H_
#define QUILLMORE_PLATFORM_WIN32_FILES_H_

#include "platform/win32_api.h"

namespace quillmore {

// The calls that change files or ask the user; tests replace single
// entries.
struct Win32Calls {
  BOOL(WINAPI* write_file)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* flush)(HANDLE);
  BOOL(WINAPI* move)(LPCSTR from, LPCSTR to, DWORD flags);
  int(WINAPI* message_box)(HWND, LPCSTR text, LPCSTR caption, UINT type);
};
Win32Calls& Win32FileCalls();

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_WIN32_FILES_H_
