// The POSIX calls ProfileStore is built from (SystemProfileFiles, declared
// in system_platform.h, defined in posix_platform.cpp), the same few as on
// Windows:
// - the folder lock: an flock on the folder, taken through a descriptor of
//   its own, so threads exclude each other as processes do;
// - identity: the device, inode, size, modification and change time;
// - replacing: a temporary file beside the file (".<name>.tmp<pid>.<n>"),
//   synced, then renamed over the file. Temporary files that a killed
//   writer left are removed by a later writer once they are a few minutes
//   old (the store says when it looks).
// System calls that change files go through one small table so a test can
// make a single call fail (a write, a sync, a rename) and check that
// nothing is lost.
//
// Threads: every call may be made from several threads at once.
#ifndef QUILLMORE_PLATFORM_POSIX_FILES_H_
#define QUILLMORE_PLATFORM_POSIX_FILES_H_

#include <sys/types.h>

#include <cstddef>

namespace quillmore {

// The system calls that change files; tests replace single entries.
struct FileCalls {
  ssize_t (*write)(int fd, const void* buf, std::size_t n);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
};
FileCalls& PosixFileCalls();

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_POSIX_FILES_H_
