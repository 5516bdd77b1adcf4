#include "platform/posix/content_copy.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace qor::platform {

namespace {

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

}  // namespace

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

}  // namespace qor::platform
