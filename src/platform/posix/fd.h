#pragma once

// The one owner of a file descriptor in the Linux layer: closed when it goes
// out of scope, so that no error path can leak one.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace qor::platform {

class Fd {
 public:
  Fd() = default;
  // Takes over `fd`; a negative value owns nothing.
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  int get() const { return fd_; }
  bool IsValid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and gives the close's own errno, 0 when it went well: late
  // write errors of NFS and the like show up only here.
  int CloseReportingError() {
    const int fd = Release();
    return fd < 0 || ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_ = -1;
};

// An open(2)-like call repeated while a signal interrupts it.
template <typename Open>
Fd OpenRetrying(Open open) {
  int fd;
  do {
    fd = open();
  } while (fd < 0 && errno == EINTR);
  return Fd(fd);
}

// Brings the name of the file at `path` in its folder to the disk (the
// folder's fsync); 0, or the error. A folder that cannot be synced (EINVAL)
// or is read-only has nothing to lose.
inline int SyncFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.IsValid()) return errno;
  if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS) return errno;
  return 0;
}

}  // namespace qor::platform
