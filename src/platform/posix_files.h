// The POSIX calls ProfileStore is built from (SystemProfileFiles, declared
// in system_platform.h, defined in posix_platform.cpp). System
// calls that change files go through one small table so a test can make a
// single call fail (a write, a sync, a rename) and check that nothing is
// lost.
//
// SystemProfileFiles gives ProfileStore (the cache and the
// transactions) its few system calls. The folder lock is an flock on the
// folder, taken through a descriptor of its own, so threads exclude each
// other as processes do. A file is replaced by writing a temporary file
// beside it (".<name>.tmp<pid>.<n>"), syncing it and renaming it over the
// file. Temporary files that a killed writer left behind are removed by a
// later writer of the same file once they are a few minutes old (the store
// says when it looks).
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
