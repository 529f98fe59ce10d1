// Owners of the POSIX handles the platform opens: a file descriptor
// (UniqueFd) and a folder listing (DirPtr), each closed when it leaves
// scope, so no path closes one by hand. release() only after the call that
// adopts the handle has succeeded.
#ifndef QUILLMORE_PLATFORM_POSIX_HANDLES_H_
#define QUILLMORE_PLATFORM_POSIX_HANDLES_H_

#include <dirent.h>
#include <unistd.h>

#include <memory>

namespace quillmore {

class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

struct DirCloser {
  void operator()(DIR* dir) const noexcept {
    if (dir != nullptr) ::closedir(dir);
  }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_POSIX_HANDLES_H_
