// <windows.h> for the Win32 platform files, without the macros that would
// rename the Platform's own CopyFile and DeleteFile members. Only Windows
// files include this header, after platform headers.
#ifndef QUILLMORE_PLATFORM_WIN32_API_H_
#define QUILLMORE_PLATFORM_WIN32_API_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef CopyFile
#undef DeleteFile

#endif  // QUILLMORE_PLATFORM_WIN32_API_H_
