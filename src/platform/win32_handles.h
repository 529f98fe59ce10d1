// Owners of the Windows handles the platform opens: a file handle (Handle)
// and a directory search (FindHandle), each closed when it leaves scope, so
// no path closes one by hand. Only Windows files include this header.
#ifndef QUILLMORE_PLATFORM_WIN32_HANDLES_H_
#define QUILLMORE_PLATFORM_WIN32_HANDLES_H_

#include "platform/win32_api.h"

namespace quillmore {

// A handle that INVALID_HANDLE_VALUE marks as none (CreateFileA's,
// FindFirstFileA's), closed by `Closer`.
template <typename Closer>
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE h) : h_(h) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { Close(); }
  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  // Closes the handle now; it holds none after.
  void Close() {
    if (ok()) Closer()(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_;
};

struct CloseFileHandle {
  void operator()(HANDLE h) const { ::CloseHandle(h); }
};
struct CloseFindHandle {
  void operator()(HANDLE h) const { ::FindClose(h); }
};
using Handle = OwnedHandle<CloseFileHandle>;
using FindHandle = OwnedHandle<CloseFindHandle>;

}  // namespace quillmore

#endif  // QUILLMORE_PLATFORM_WIN32_HANDLES_H_
