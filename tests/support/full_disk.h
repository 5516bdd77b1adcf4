#pragma once

// Ways for a test to run out of room for real: a disk that fills up, and a
// limit on the size of the files a process may write.

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "support/temp_tree.h"

namespace qor::testing {

// A real file system of a few pages that a test can fill to the last byte:
// a tmpfs mounted with a size limit on a fresh folder. Mounting needs root,
// which the CI machine has; elsewhere a test skips with `why_not()`.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(int kibibytes) {
    if (::geteuid() != 0) {
      why_not_ = "mounting a small tmpfs needs root";
      return;
    }
    const std::string options = "size=" + std::to_string(kibibytes) + "k";
    if (::mount("qor-test", folder_.path().c_str(), "tmpfs", 0, options.c_str()) != 0) {
      why_not_ = std::string("cannot mount a small tmpfs: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(folder_.path().c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why_not() const { return why_not_; }
  std::string slash() const { return folder_.slash(); }

  // Takes every free byte with a file of its own.
  void Fill() {
    const int fd = ::open((slash() + "filler").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd < 0) std::abort();
    static const char zeros[4096] = {};
    for (std::size_t piece = sizeof zeros; piece > 0;) {
      if (::write(fd, zeros, piece) < 0) piece /= 2;
    }
    ::close(fd);
  }

 private:
  TempFolder folder_;
  bool mounted_ = false;
  std::string why_not_;
};

// Lets files grow to `bytes` at most, so that writing a longer file fails
// half-way, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &old_);
    struct rlimit limited = old_;
    limited.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  struct rlimit old_ {};
  void (*old_handler_)(int) = nullptr;
};

}  // namespace qor::testing
