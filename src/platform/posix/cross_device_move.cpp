#include "platform/posix/cross_device_move.h"
#include "platform/posix/write_all.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <vector>

namespace qor::platform {

namespace {

// Closes a descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the close's own error (late write errors of NFS
  // and the like show up here).
  int CloseReportingError() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

std::string RandomSuffix() {
  static std::mt19937_64 generator{std::random_device{}()};
  static const char kDigits[] = "0123456789abcdef";
  std::uint64_t bits = generator();
  std::string text(12, '0');
  for (char& c : text) {
    c = kDigits[bits & 15];
    bits >>= 4;
  }
  return text;
}

// Copies the whole content of `in` to `out`; returns the bytes copied
// through `copied` and 0, or an errno.
int CopyContent(int in, int out, std::uint64_t& copied) {
  copied = 0;
  bool kernel_copy = true;
  std::vector<char> buffer;
  for (;;) {
    if (kernel_copy) {
      const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
      if (n > 0) {
        copied += static_cast<std::uint64_t>(n);
        continue;
      }
      if (n == 0) return 0;
      if (errno == EINTR) continue;
      if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
        return errno;
      }
      kernel_copy = false;  // not between these two file systems: copy by hand
    }
    if (buffer.empty()) buffer.resize(1 << 17);
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    if (const int error =
            WriteAll(out, std::string_view(buffer.data(), static_cast<std::size_t>(n))))
      return error;
    copied += static_cast<std::uint64_t>(n);
  }
}

// Makes the temporary `temp` in `dir_fd` a copy of the regular file `from`
// (a name in the folder `from_dir`).
int CopyRegularFile(int from_dir, const std::string& from, const struct stat& source, int dir_fd,
                    const std::string& temp) {
  Fd in(::openat(from_dir, from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (in.get() < 0) return errno;
  struct stat opened;
  if (::fstat(in.get(), &opened) != 0) return errno;
  if (opened.st_dev != source.st_dev || opened.st_ino != source.st_ino) return ESTALE;

  Fd out(::openat(dir_fd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (out.get() < 0) return errno;
  auto fail = [&](int error) {
    ::unlinkat(dir_fd, temp.c_str(), 0);
    return error;
  };

  std::uint64_t copied = 0;
  if (const int error = CopyContent(in.get(), out.get(), copied)) return fail(error);
  // The source changed while it was copied: better to leave it than to keep
  // a copy that may be torn.
  struct stat after;
  if (::fstat(in.get(), &after) != 0) return fail(errno);
  if (copied != static_cast<std::uint64_t>(after.st_size) ||
      after.st_mtim.tv_sec != source.st_mtim.tv_sec ||
      after.st_mtim.tv_nsec != source.st_mtim.tv_nsec) {
    return fail(EAGAIN);
  }

  // Owner first: changing it clears set-user-ID bits that fchmod then sets.
  // Only root may give a file away; others keep their own ownership.
  if (::fchown(out.get(), source.st_uid, source.st_gid) != 0 && errno != EPERM) return fail(errno);
  if (::fchmod(out.get(), source.st_mode & 07777) != 0) return fail(errno);
  const struct timespec times[2] = {source.st_atim, source.st_mtim};
  if (::futimens(out.get(), times) != 0) return fail(errno);
  if (::fsync(out.get()) != 0) return fail(errno);
  if (const int error = out.CloseReportingError()) return fail(error);
  return 0;
}

// Makes the temporary `temp` in `dir_fd` a link with the same target as the
// link `from` (a name in the folder `from_dir`).
int CopySymbolicLink(int from_dir, const std::string& from, const struct stat& source, int dir_fd,
                     const std::string& temp) {
  std::vector<char> target(static_cast<std::size_t>(source.st_size > 0 ? source.st_size : 255) + 1);
  const ssize_t length = ::readlinkat(from_dir, from.c_str(), target.data(), target.size());
  if (length < 0) return errno;
  if (static_cast<std::size_t>(length) >= target.size()) return ESTALE;  // changed meanwhile
  target[static_cast<std::size_t>(length)] = '\0';
  if (::symlinkat(target.data(), dir_fd, temp.c_str()) != 0) return errno;
  if (::fchownat(dir_fd, temp.c_str(), source.st_uid, source.st_gid, AT_SYMLINK_NOFOLLOW) != 0 &&
      errno != EPERM) {
    const int error = errno;
    ::unlinkat(dir_fd, temp.c_str(), 0);
    return error;
  }
  const struct timespec times[2] = {source.st_atim, source.st_mtim};
  ::utimensat(dir_fd, temp.c_str(), times,
              AT_SYMLINK_NOFOLLOW);  // best effort: not all file systems keep link times
  return 0;
}

}  // namespace

Outcome MoveAcrossFileSystems(int from_dir, const std::string& from, const std::string& to) {
  struct stat source;
  if (::fstatat(from_dir, from.c_str(), &source, AT_SYMLINK_NOFOLLOW) != 0) return {errno};
  if (S_ISDIR(source.st_mode)) return {EISDIR};
  if (!S_ISREG(source.st_mode) && !S_ISLNK(source.st_mode)) return {EOPNOTSUPP};

  const std::size_t slash = to.rfind(kSeparator);
  const std::string folder =
      slash == std::string::npos ? std::string(".") : to.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? to : to.substr(slash + 1);
  if (name.empty()) return {EINVAL};

  Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return {errno};
  // Refuse early rather than copy a large file only to find the name taken.
  struct stat existing;
  if (::fstatat(dir.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) return {EEXIST};

  std::string temp;
  int error = EEXIST;
  for (int attempt = 0; attempt < 16 && error == EEXIST; ++attempt) {
    temp = std::string(kTemporaryPrefix) + RandomSuffix();
    error = S_ISREG(source.st_mode) ? CopyRegularFile(from_dir, from, source, dir.get(), temp)
                                    : CopySymbolicLink(from_dir, from, source, dir.get(), temp);
  }
  if (error != 0) return {error};

  // A hard link never replaces an existing name.
  if (::linkat(dir.get(), temp.c_str(), dir.get(), name.c_str(), 0) != 0) {
    error = errno;
    if (error == EPERM || error == EOPNOTSUPP || error == EMLINK) {
      // No hard links here (FAT and the like): rename without replacing.
      error = ::renameat2(dir.get(), temp.c_str(), dir.get(), name.c_str(), RENAME_NOREPLACE) == 0
                  ? 0
                  : errno;
      if (error == 0) temp.clear();
    }
    if (error != 0) {
      ::unlinkat(dir.get(), temp.c_str(), 0);
      return {error};
    }
  }
  if (!temp.empty()) ::unlinkat(dir.get(), temp.c_str(), 0);
  if (::fsync(dir.get()) != 0 && errno != EINVAL) {
    error = errno;
    ::unlinkat(dir.get(), name.c_str(), 0);
    return {error};
  }

  // Only now, with the copy in place and on disk, does the source go.
  if (::unlinkat(from_dir, from.c_str(), 0) != 0) {
    error = errno;
    ::unlinkat(dir.get(), name.c_str(), 0);
    return {error};
  }
  return {};
}

}  // namespace qor::platform
