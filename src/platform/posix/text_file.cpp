#include "platform/text_file.h"
#include "platform/posix/fd.h"
#include "platform/posix/write_all.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

namespace qor::platform {

namespace {

// Room is taken this far beyond what is asked for, so that most requests find
// theirs already there and cost no call.
constexpr std::uint64_t kReserveAhead = 64 * 1024;

// Allocates the bytes from `from` up to `to` without changing the file's size.
int Allocate(int fd, std::uint64_t from, std::uint64_t to) {
  int result;
  do {
    result = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from),
                         static_cast<off_t>(to - from));
  } while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : errno;
}

// Where the file system cannot allocate ahead (some network and FUSE file
// systems), the free space it reports is the best left: enough whole blocks
// for `bytes`, and one more for a block begun. It is no guarantee, since
// another program can fill the disk between this look and the write.
int CheckFreeSpace(int fd, std::uint64_t bytes) {
  struct statvfs fs;
  if (::fstatvfs(fd, &fs) != 0) return errno;
  const std::uint64_t block = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
  if (block == 0) return 0;
  const std::uint64_t blocks = bytes / block + 2;
  return static_cast<std::uint64_t>(fs.f_bavail) >= blocks ? 0 : ENOSPC;
}

std::uint64_t FileSizeLimit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace

TextFile::~TextFile() {
  if (fd_ >= 0) Close();
}

Outcome TextFile::Create(const std::string& path, IfNotEmpty if_not_empty) {
  if (fd_ >= 0) Close();
  // Made afresh, or else only a regular file of this user's with no other
  // name: in a folder that others can write into (a shared working folder,
  // /tmp) anyone could have put a file, a link or a pipe under the name,
  // to read what the run writes, to write into it, or to hold it for good.
  // Never waits on a pipe either: opened without blocking, and only a
  // regular file is written into.
  Fd fd = OpenRetrying([&] {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                  0666);
  });
  if (!fd.IsValid() && errno == EEXIST) {
    fd = OpenRetrying(
        [&] { return ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); });
    if (!fd.IsValid() && (errno == ELOOP || errno == ENXIO || errno == EISDIR)) {
      return {kNotThisUsersFile};
    }
    // A device only root can make (/dev/null, /dev/full) holds nothing
    // anyone could read back or plant.
    struct stat there;
    const auto own = [&] {
      return S_ISREG(there.st_mode) ? there.st_uid == ::geteuid() && there.st_nlink == 1
                                    : S_ISCHR(there.st_mode) && there.st_uid == 0;
    };
    if (fd.IsValid() && (::fstat(fd.get(), &there) != 0 || !own())) {
      return {kNotThisUsersFile};
    }
  }
  if (!fd.IsValid()) return {errno};
  // The lock comes before the emptying, so that a refused run leaves the
  // other run's file as it is. Where no lock can be had at all, nobody can
  // tell whether another run writes there, so the file is not used either.
  int locked;
  do {
    locked = ::flock(fd.get(), LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    return {errno == EWOULDBLOCK ? kInUseByAnotherRun : errno};
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return {errno};
  if (if_not_empty == IfNotEmpty::Refuse && S_ISREG(st.st_mode) && st.st_size > 0) {
    return {kNotEmpty};
  }
  if (::fcntl(fd.get(), F_SETFL, 0) != 0 ||
      (S_ISREG(st.st_mode) && ::ftruncate(fd.get(), 0) != 0)) {
    return {errno};
  }
  fd_ = fd.Release();
  path_ = path;
  const std::size_t slash = path.rfind('/');
  folder_ = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  name_synced_ = false;
  identity_ = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  is_regular_ = S_ISREG(st.st_mode);
  can_allocate_ = true;
  written_ = 0;
  reserved_end_ = 0;
  size_limit_ = FileSizeLimit();
  return {};
}

Outcome TextFile::Reserve(std::uint64_t bytes) {
  if (fd_ < 0) return {EBADF};
  // A pipe or a device has no space of its own that could run out.
  if (!is_regular_) return {};
  // Past the size limit a write fails, or the process is killed by SIGXFSZ;
  // room allocated ahead does not count against that limit.
  if (written_ > size_limit_ || bytes > size_limit_ - written_) return {EFBIG};
  const std::uint64_t end = written_ + bytes;
  if (end <= reserved_end_) return {};
  if (!can_allocate_) return {CheckFreeSpace(fd_, bytes)};

  const std::uint64_t ahead = std::max(end, std::min(end + kReserveAhead, size_limit_));
  int error = Allocate(fd_, written_, ahead);
  if (error == 0) {
    reserved_end_ = ahead;
    return {};
  }
  // A nearly full disk may still hold exactly what was asked for.
  if ((error == ENOSPC || error == EDQUOT) && ahead > end) {
    error = Allocate(fd_, written_, end);
    if (error == 0) {
      reserved_end_ = end;
      return {};
    }
  }
  if (error == EOPNOTSUPP || error == ENOSYS) {
    can_allocate_ = false;
    return {CheckFreeSpace(fd_, bytes)};
  }
  return {error};
}

Outcome TextFile::Sync() {
  if (fd_ < 0) return {EBADF};
  // Devices and pipes cannot be synced; there is nothing to lose there.
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) return {errno};
  if (name_synced_ || !is_regular_) return {};
  if (const int error = SyncFolderOf(folder_)) return {error};
  name_synced_ = true;
  return {};
}

Outcome TextFile::Write(std::string_view text) {
  if (fd_ < 0) return {EBADF};
  const int error = WriteAll(fd_, text);
  if (error == 0) {
    written_ += text.size();
  } else if (const off_t end = ::lseek(fd_, 0, SEEK_CUR); end >= 0) {
    written_ = static_cast<std::uint64_t>(end);  // part of `text` may be in
  }
  return {error};
}

Outcome TextFile::Close() {
  if (fd_ < 0) return {};
  const int fd = fd_;
  fd_ = -1;
  int error = 0;
  // Cutting the file at its own size frees the blocks allocated beyond it and
  // never cuts anything written.
  if (is_regular_ && reserved_end_ > written_) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || ::ftruncate(fd, st.st_size) != 0) error = errno;
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  return {error};
}

bool TextFile::CloseRemovingIfEmpty() {
  bool removed = false;
  struct stat by_handle, by_name;
  if (fd_ >= 0 && is_regular_ && written_ == 0 && ::fstat(fd_, &by_handle) == 0 &&
      by_handle.st_size == 0 && ::lstat(path_.c_str(), &by_name) == 0 &&
      by_name.st_dev == by_handle.st_dev && by_name.st_ino == by_handle.st_ino) {
    removed = ::unlink(path_.c_str()) == 0;
  }
  Close();
  return removed;
}

}  // namespace qor::platform
