#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/cross_device_move.h"
#include "platform/posix/listing_state.h"
#include "platform/temporary_names.h"

namespace qor::platform {

namespace {

bool Before(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

}  // namespace

void RemoveStaleTemporaries(int dir_fd, const struct timespec& since) {
  Fd listing_fd =
      OpenRetrying([&] { return ::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (!listing_fd.IsValid()) return;
  const Dir dir(::fdopendir(listing_fd.get()));
  if (dir == nullptr) return;
  listing_fd.Release();  // the listing stream owns it now
  while (const struct dirent* d = ::readdir(dir.get())) {
    if (!IsRandomName(d->d_name, kTemporaryPrefix)) continue;
    struct stat st;
    // A temporary touched since this run began may be another run's copy in
    // the making.
    if (::fstatat(dir_fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        Before(st.st_ctim, since) && Before(st.st_mtim, since)) {
      ::unlinkat(dir_fd, d->d_name, 0);
    }
  }
}

}  // namespace qor::platform
