#include "platform/posix/content_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/fd.h"
#include "platform/posix/file_system_abilities.h"

namespace qor::platform {

namespace {

constexpr std::size_t kBufferSize = 1 << 17;

// Copies the bytes [start, end) of `in` to the same offsets of `out`.
int CopyRange(int in, int out, off_t start, off_t end, bool& kernel_copy, std::vector<char>& buffer,
              Pacer& pacer) {
  constexpr std::size_t kKernelChunk = 8 << 20;
  while (start < end) {
    if (!pacer.Go()) return ECANCELED;
    const std::size_t want = std::min(static_cast<std::size_t>(end - start), kKernelChunk);
    // What fits the buffer goes in one write: between two file systems the
    // kernel's copy writes a page at a time, and on a share or a FUSE file
    // system each write is a round trip.
    if (kernel_copy && want > kBufferSize) {
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
    if (buffer.empty()) buffer.resize(kBufferSize);
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

}  // namespace

int CopyContent(int in, int out, off_t size, Pacer& pacer) {
  bool kernel_copy = true;
  std::vector<char> buffer;
  off_t position = 0;
  bool to_the_end = size == 0;  // the copy's size is already right
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
    to_the_end = hole == size;
  }
  // The size carries any hole at the end.
  if (!to_the_end && ::ftruncate(out, size) != 0) return errno;
  return 0;
}

namespace {

// Whether the open file `b` holds the bytes of the open file `a`: all of
// them, or only their start when `start_only`.
bool SameBytes(int a, int b, bool start_only) {
  // What the system still holds of `b` in memory is dropped, so that it is
  // read back from its disk: a copy already synced loses nothing by it.
  ::posix_fadvise(b, 0, 0, POSIX_FADV_DONTNEED);
  std::vector<char> ba(1 << 16), bb(1 << 16);
  for (off_t at = 0;;) {
    const ssize_t na = ::pread(a, ba.data(), ba.size(), at);
    if (na < 0) return false;
    std::size_t nb = 0;
    while (nb < static_cast<std::size_t>(na)) {
      const ssize_t got = ::pread(b, bb.data() + nb, static_cast<std::size_t>(na) - nb,
                                  at + static_cast<off_t>(nb));
      if (got < 0) return false;
      if (got == 0) return start_only && std::memcmp(ba.data(), bb.data(), nb) == 0;
      nb += static_cast<std::size_t>(got);
    }
    if (std::memcmp(ba.data(), bb.data(), nb) != 0) return false;
    if (na == 0) {
      char extra;
      return ::pread(b, &extra, 1, at) == 0;
    }
    at += na;
  }
}

// Where reading a file gives it a new last-write time (rclone with its
// cache), the open file `fd` of the folder `dir`, just read, gets back the
// times it had `before`: reading never changes a file.
void PutTimesBack(int fd, int dir, const struct stat& before) {
  struct stat now;
  if (::fstat(fd, &now) != 0 || (now.st_mtim.tv_sec == before.st_mtim.tv_sec &&
                                 now.st_mtim.tv_nsec == before.st_mtim.tv_nsec)) {
    return;
  }
  if (KnownAbilitiesOf(dir).reads_keep_times || now.st_size != before.st_size) return;
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ::futimens(fd, times);
}

Fd OpenToRead(int dir, const std::string& name) {
  return Fd(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

}  // namespace

bool SameAsCopied(int a_dir, const std::string& a, int b_dir, const std::string& b) {
  struct stat sa, sb;
  if (::fstatat(a_dir, a.c_str(), &sa, AT_SYMLINK_NOFOLLOW) != 0 ||
      ::fstatat(b_dir, b.c_str(), &sb, AT_SYMLINK_NOFOLLOW) != 0 ||
      (sa.st_mode & S_IFMT) != (sb.st_mode & S_IFMT) || sa.st_size != sb.st_size) {
    return false;
  }
  if (S_ISLNK(sa.st_mode)) {
    std::string ta(static_cast<std::size_t>(sa.st_size) + 1, '\0');
    std::string tb(ta.size(), '\0');
    return ::readlinkat(a_dir, a.c_str(), ta.data(), ta.size()) == sa.st_size &&
           ::readlinkat(b_dir, b.c_str(), tb.data(), tb.size()) == sb.st_size && ta == tb;
  }
  // A file system that keeps no modes (rclone) shows one for every file.
  if (!S_ISREG(sa.st_mode) ||
      ((sa.st_mode & 07777) != (sb.st_mode & 07777) && KnownAbilitiesOf(a_dir).modes &&
       KnownAbilitiesOf(b_dir).modes) ||
      sa.st_mtim.tv_sec != sb.st_mtim.tv_sec || sa.st_mtim.tv_nsec != sb.st_mtim.tv_nsec) {
    return false;
  }
  const Fd fa = OpenToRead(a_dir, a);
  const Fd fb = OpenToRead(b_dir, b);
  if (!fa.IsValid() || !fb.IsValid()) return false;
  const bool same = SameBytes(fa.get(), fb.get(), false);
  PutTimesBack(fa.get(), a_dir, sa);
  PutTimesBack(fb.get(), b_dir, sb);
  return same;
}

bool HoldsStartOf(int dir, const std::string& name, int source_dir, const std::string& source) {
  const Fd copy = OpenToRead(dir, name);
  const Fd original = OpenToRead(source_dir, source);
  struct stat sc, so;
  if (!copy.IsValid() || !original.IsValid() || ::fstat(copy.get(), &sc) != 0 ||
      ::fstat(original.get(), &so) != 0 || !S_ISREG(sc.st_mode) || !S_ISREG(so.st_mode) ||
      (sc.st_uid != ::geteuid() && sc.st_uid != so.st_uid) || sc.st_nlink > 1 ||
      sc.st_size > so.st_size) {
    return false;
  }
  const bool start = SameBytes(original.get(), copy.get(), true);
  PutTimesBack(original.get(), source_dir, so);
  PutTimesBack(copy.get(), dir, sc);
  return start;
}

}  // namespace qor::platform
