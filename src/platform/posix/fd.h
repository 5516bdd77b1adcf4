#pragma once

// The one owner of a file descriptor in the Linux layer: closed when it goes
// out of scope, so that no error path can leak one.

#include <unistd.h>

#include <cerrno>
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

}  // namespace qor::platform
