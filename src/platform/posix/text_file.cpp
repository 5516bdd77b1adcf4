#include "platform/text_file.h"
#include "platform/posix/write_all.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qor::platform {

TextFile::~TextFile() {
  if (fd_ >= 0) ::close(fd_);
}

Outcome TextFile::Create(const std::string& path) {
  if (fd_ >= 0) Close();
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return {errno};
  // The lock comes before the emptying, so that a refused run leaves the
  // other run's file as it is. Where no lock can be had at all, nobody can
  // tell whether another run writes there, so the file is not used either.
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const int error = errno == EWOULDBLOCK ? kInUseByAnotherRun : errno;
    ::close(fd);
    return {error};
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || ::fcntl(fd, F_SETFL, 0) != 0 ||
      (S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0)) {
    const int error = errno;
    ::close(fd);
    return {error};
  }
  fd_ = fd;
  identity_ = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return {};
}

Outcome TextFile::Sync() {
  if (fd_ < 0) return {EBADF};
  // Devices and pipes cannot be synced; there is nothing to lose there.
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) return {errno};
  return {};
}

Outcome TextFile::Write(std::string_view text) {
  if (fd_ < 0) return {EBADF};
  return {WriteAll(fd_, text)};
}

Outcome TextFile::Close() {
  if (fd_ < 0) return {};
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return {errno};
  return {};
}

}  // namespace qor::platform
