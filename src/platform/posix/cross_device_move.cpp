#include "platform/posix/cross_device_move.h"
#include "platform/posix/write_all.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
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
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
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

constexpr std::size_t kSuffixLength = 12;

std::string RandomSuffix() {
  static std::mt19937_64 generator{std::random_device{}()};
  static const char kDigits[] = "0123456789abcdef";
  std::uint64_t bits = generator();
  std::string text(kSuffixLength, '0');
  for (char& c : text) {
    c = kDigits[bits & 15];
    bits >>= 4;
  }
  return text;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool Before(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Asks whether to go on at most every 100 ms, so that a long copy lets the
// window live.
class Pacer {
 public:
  explicit Pacer(const KeepGoing* keep_going)
      : keep_going_(keep_going != nullptr && *keep_going ? keep_going : nullptr),
        last_(std::chrono::steady_clock::now()) {}
  bool Go() {
    if (keep_going_ == nullptr) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(100)) return true;
    last_ = now;
    return (*keep_going_)();
  }

 private:
  const KeepGoing* keep_going_;
  std::chrono::steady_clock::time_point last_;
};

// Copies the bytes [start, end) of `in` to the same offsets of `out`.
int CopyRange(int in, int out, off_t start, off_t end, bool& kernel_copy, std::vector<char>& buffer,
              Pacer& pacer) {
  constexpr std::size_t kKernelChunk = 8 << 20;
  while (start < end) {
    if (!pacer.Go()) return ECANCELED;
    const std::size_t want = std::min(static_cast<std::size_t>(end - start), kKernelChunk);
    if (kernel_copy) {
      off_t in_offset = start, out_offset = start;
      const ssize_t n = ::copy_file_range(in, &in_offset, out, &out_offset, want, 0);
      if (n > 0) {
        start += n;
        continue;
      }
      if (n == 0) return 0;  // the file shrank: the check after the copy sees it
      if (errno == EINTR) continue;
      if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
        return errno;
      }
      kernel_copy = false;  // not between these two file systems: copy by hand
    }
    if (buffer.empty()) buffer.resize(1 << 17);
    const ssize_t n = ::pread(in, buffer.data(), std::min(want, buffer.size()), start);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w =
          ::pwrite(out, buffer.data() + done, static_cast<std::size_t>(n - done), start + done);
      if (w < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      done += w;
    }
    start += n;
  }
  return 0;
}

// Copies the first `size` bytes of `in` to `out`, holes left as holes so
// that a sparse file needs no more room on the target than on the source.
int CopyContent(int in, int out, off_t size, Pacer& pacer) {
  bool kernel_copy = true;
  std::vector<char> buffer;
  off_t position = 0;
  while (position < size) {
    off_t data = ::lseek(in, position, SEEK_DATA);
    off_t hole = size;
    if (data < 0) {
      if (errno == ENXIO) break;  // only a hole is left
      if (errno != EINVAL && errno != EOPNOTSUPP) return errno;
      data = position;  // no hole finding here: everything is data
    } else {
      hole = ::lseek(in, data, SEEK_HOLE);
      if (hole < 0 || hole > size) hole = size;
    }
    if (data >= size) break;
    if (const int error = CopyRange(in, out, data, hole, kernel_copy, buffer, pacer)) return error;
    position = hole;
  }
  // The size carries any hole at the end.
  if (::ftruncate(out, size) != 0) return errno;
  return 0;
}

// An ACL and a user attribute belong to the file's meaning: a target that
// cannot hold them does not get the file. Other namespaces (trusted.*,
// security.capability) come along where this process is allowed to set them;
// the security label is the target's own business.
bool MustKeep(const char* name) {
  return std::strncmp(name, "user.", 5) == 0 || std::strncmp(name, "system.posix_acl_", 17) == 0;
}

int CopyExtendedAttributes(int in, int out) {
  std::vector<char> names;
  for (;;) {
    const ssize_t length = ::flistxattr(in, nullptr, 0);
    if (length < 0) return errno == ENOTSUP ? 0 : errno;
    if (length == 0) return 0;
    names.resize(static_cast<std::size_t>(length));
    const ssize_t got = ::flistxattr(in, names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) return errno;  // ERANGE: the list grew meanwhile
  }
  std::vector<char> value;
  for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
    const char* name = names.data() + at;
    if (std::strcmp(name, "security.selinux") == 0) continue;
    ssize_t size;
    for (;;) {
      size = ::fgetxattr(in, name, nullptr, 0);
      if (size < 0) break;
      value.resize(static_cast<std::size_t>(size));
      size = ::fgetxattr(in, name, value.data(), value.size());
      if (size >= 0 || errno != ERANGE) break;
    }
    if (size < 0) {
      if (errno == ENODATA) continue;  // removed meanwhile
      return errno;
    }
    if (::fsetxattr(out, name, value.data(), static_cast<std::size_t>(size), 0) == 0) continue;
    const int error = errno;
    if (MustKeep(name)) {
      return error == ENOTSUP || error == EPERM || error == ENOSPC || error == E2BIG
                 ? kAttributesNotKept
                 : error;
    }
    if (error != EPERM && error != ENOTSUP) return error;
  }
  return 0;
}

// Makes the temporary `temp` in `dir_fd` a copy of the open regular file
// `in`, whose state when the move began is `source`; synced when `sync`.
int CopyRegularFile(int in, const struct stat& source, int dir_fd, const std::string& temp,
                    bool sync, Pacer& pacer) {
  Fd out(::openat(dir_fd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (out.get() < 0) return errno;
  auto fail = [&](int error) {
    ::unlinkat(dir_fd, temp.c_str(), 0);
    return error;
  };

  if (const int error = CopyContent(in, out.get(), source.st_size, pacer)) return fail(error);
  // The source changed while it was copied: better to leave it than to keep
  // a copy that may be torn.
  struct stat after;
  if (::fstat(in, &after) != 0) return fail(errno);
  if (after.st_size != source.st_size || !SameTime(after.st_mtim, source.st_mtim)) {
    return fail(kChangedDuringMove);
  }

  // Owner first: changing it clears set-user-ID bits that fchmod then sets,
  // and capabilities that the attributes then bring back. Only root may give
  // a file away; others keep their own ownership.
  if (::fchown(out.get(), source.st_uid, source.st_gid) != 0 && errno != EPERM) return fail(errno);
  if (::fchmod(out.get(), source.st_mode & 07777) != 0) return fail(errno);
  // After the mode: an ACL sets the group bits from its mask.
  if (const int error = CopyExtendedAttributes(in, out.get())) return fail(error);
  const struct timespec times[2] = {source.st_atim, source.st_mtim};
  if (::futimens(out.get(), times) != 0) return fail(errno);
  if (sync) {
    if (::fsync(out.get()) != 0) return fail(errno);
  } else {
    // The batch syncs later; the disk can start writing now, while the
    // next files are copied.
    ::sync_file_range(out.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
  }
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
  if (static_cast<std::size_t>(length) >= target.size()) return kChangedDuringMove;
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

// Renames without replacing; where the file system cannot, a plain rename to
// a fresh random name is as safe.
int RenameToPrivateName(int dir, const std::string& from, const std::string& to) {
  if (::renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  struct stat st;
  if (::fstatat(dir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return ::renameat(dir, from.c_str(), dir, to.c_str()) == 0 ? 0 : errno;
}

// Whether what now lies at `taken` is the very file that was copied, as it
// was when the copy began.
bool IsUnchanged(int dir, const std::string& taken, const struct stat& source) {
  struct stat now;
  if (::fstatat(dir, taken.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) return false;
  return now.st_dev == source.st_dev && now.st_ino == source.st_ino &&
         now.st_size == source.st_size && SameTime(now.st_mtim, source.st_mtim) &&
         (now.st_mode & S_IFMT) == (source.st_mode & S_IFMT);
}

// Removes the source, once the copy is in place and durable. The source is
// first taken away from its name, so that whatever may have been saved under
// that name since is never what gets removed; it goes only when it is the file
// that was copied, unchanged. Otherwise it is put back, and the copy goes.
int RemoveSourceIfUnchanged(int from_dir, const std::string& from, const struct stat& source) {
  // A change of the status (a write, truncation and rewrite to the same
  // size and time) shows in the change time until the rename below, which
  // sets it itself.
  struct stat now;
  if (::fstatat(from_dir, from.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (now.st_dev != source.st_dev || now.st_ino != source.st_ino ||
      !SameTime(now.st_ctim, source.st_ctim)) {
    return kChangedDuringMove;
  }
  std::string taken;
  int error = EEXIST;
  for (int attempt = 0; attempt < 16 && error == EEXIST; ++attempt) {
    taken = kTakenPrefix + RandomSuffix();
    error = RenameToPrivateName(from_dir, from, taken);
  }
  if (error != 0) return error;
  if (IsUnchanged(from_dir, taken, source)) {
    if (::unlinkat(from_dir, taken.c_str(), 0) == 0) return 0;
    error = errno;
  } else {
    error = kChangedDuringMove;
  }
  // Back under its own name; should that be taken again by now, the file
  // keeps its private name rather than replace anything.
  ::renameat2(from_dir, taken.c_str(), from_dir, from.c_str(), RENAME_NOREPLACE);
  return error;
}

// Removes the copy `name` in `dir` again, if it is still the one made.
void RemoveCopy(int dir, const std::string& name, const struct stat& copy) {
  struct stat now;
  if (::fstatat(dir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == copy.st_dev &&
      now.st_ino == copy.st_ino) {
    ::unlinkat(dir, name.c_str(), 0);
  }
}

bool IsTemporaryName(const char* name) {
  const std::size_t prefix = std::strlen(kTemporaryPrefix);
  if (std::strncmp(name, kTemporaryPrefix, prefix) != 0) return false;
  const char* suffix = name + prefix;
  if (std::strlen(suffix) != kSuffixLength) return false;
  for (const char* c = suffix; *c != '\0'; ++c) {
    if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

Outcome CrossCopy::Make(int from_dir, const std::string& from, int to_dir, const std::string& name,
                        bool sync, const KeepGoing* keep_going) {
  struct stat& source = source_;
  if (::fstatat(from_dir, from.c_str(), &source, AT_SYMLINK_NOFOLLOW) != 0) return {errno};
  if (S_ISDIR(source.st_mode)) return {EISDIR};
  if (!S_ISREG(source.st_mode) && !S_ISLNK(source.st_mode)) return {EOPNOTSUPP};
  if (name.empty()) return {EINVAL};

  // Refuse early rather than copy a large file only to find the name taken.
  struct stat existing;
  if (::fstatat(to_dir, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) return {EEXIST};

  Fd in;
  if (S_ISREG(source.st_mode)) {
    // Without blocking: a pipe swapped in for the file would hold the open.
    in.Reset(::openat(from_dir, from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (in.get() < 0) return {errno};
    struct stat opened;
    if (::fstat(in.get(), &opened) != 0) return {errno};
    if (!S_ISREG(opened.st_mode) || opened.st_dev != source.st_dev ||
        opened.st_ino != source.st_ino) {
      return {kChangedDuringMove};
    }
    source = opened;
  }

  Pacer pacer(keep_going);
  std::string temp;
  int error = EEXIST;
  for (int attempt = 0; attempt < 16 && error == EEXIST; ++attempt) {
    temp = std::string(kTemporaryPrefix) + RandomSuffix();
    error = S_ISREG(source.st_mode) ? CopyRegularFile(in.get(), source, to_dir, temp, sync, pacer)
                                    : CopySymbolicLink(from_dir, from, source, to_dir, temp);
  }
  if (error != 0) return {error};
  if (::fstatat(to_dir, temp.c_str(), &copy_, AT_SYMLINK_NOFOLLOW) != 0) {
    error = errno;
    ::unlinkat(to_dir, temp.c_str(), 0);
    return {error};
  }
  temp_ = temp;
  return {};
}

Outcome CrossCopy::Place(int to_dir, const std::string& name) {
  // A rename without replacing, or where the file system cannot do that, a
  // hard link: neither ever replaces an existing name.
  int error = 0;
  if (::renameat2(to_dir, temp_.c_str(), to_dir, name.c_str(), RENAME_NOREPLACE) != 0) {
    error = errno;
    if (error == EINVAL || error == ENOSYS) {
      error = ::linkat(to_dir, temp_.c_str(), to_dir, name.c_str(), 0) == 0 ? 0 : errno;
    }
    ::unlinkat(to_dir, temp_.c_str(), 0);
  }
  temp_.clear();
  placed_ = error == 0;
  return {error};
}

Outcome CrossCopy::RemoveSource(int from_dir, const std::string& from, int to_dir,
                                const std::string& name) {
  if (const int removed = RemoveSourceIfUnchanged(from_dir, from, source_)) {
    Discard(to_dir, name);
    return {removed};
  }
  placed_ = false;  // the copy is the file now
  return {};
}

void CrossCopy::Discard(int to_dir, const std::string& name) {
  if (!temp_.empty()) ::unlinkat(to_dir, temp_.c_str(), 0);
  if (placed_) RemoveCopy(to_dir, name, copy_);
  temp_.clear();
  placed_ = false;
}

FileIdentity CrossCopy::PlacedIdentity() const {
  return {static_cast<std::uint64_t>(copy_.st_dev), static_cast<std::uint64_t>(copy_.st_ino)};
}

std::uint64_t CrossCopy::Size() const {
  return source_.st_size < 0 ? 0 : static_cast<std::uint64_t>(source_.st_size);
}

Outcome MoveAcrossFileSystems(int from_dir, const std::string& from, int to_dir,
                              const std::string& name) {
  CrossCopy copy;
  if (const Outcome made = copy.Make(from_dir, from, to_dir, name, true, nullptr); !made.ok()) {
    return made;
  }
  if (const Outcome placed = copy.Place(to_dir, name); !placed.ok()) return placed;
  if (::fsync(to_dir) != 0 && errno != EINVAL) {
    const int error = errno;
    copy.Discard(to_dir, name);
    return {error};
  }
  // Only now, with the copy in place and on disk, does the source go.
  return copy.RemoveSource(from_dir, from, to_dir, name);
}

void RemoveStaleTemporaries(int dir_fd, const struct timespec& since) {
  const int listing_fd = ::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing_fd < 0) return;
  DIR* dir = ::fdopendir(listing_fd);
  if (dir == nullptr) {
    ::close(listing_fd);
    return;
  }
  while (const struct dirent* d = ::readdir(dir)) {
    if (!IsTemporaryName(d->d_name)) continue;
    struct stat st;
    // A temporary touched since this run began may be another run's copy in
    // the making.
    if (::fstatat(dir_fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        Before(st.st_ctim, since) && Before(st.st_mtim, since)) {
      ::unlinkat(dir_fd, d->d_name, 0);
    }
  }
  ::closedir(dir);
}

}  // namespace qor::platform
