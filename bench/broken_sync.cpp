// qor_broken_sync.so: makes a qor build broken on purpose, for the power-cut
// loop to show that it can fail. Loaded with LD_PRELOAD; QOR_BROKEN says
// which promise to break (the syncs it drops do nothing and say they did):
//   copy-fsync    the fsync and fdatasync of regular files on a FUSE file
//                 system (a share), but for the run's journal: copies are
//                 placed, and sources go, before their bytes are durable;
//   folder-fsync  every fsync of a folder: the names of placed copies, and
//                 the removals of sources, are never made durable;
//   early-removal every sync but the journal's: a batch's sources go
//                 before anything of the batch is durable.
// Anything else (or nothing) breaks nothing.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr long kFuseMagic = 0x65735546;

const char* broken() {
  const char* what = std::getenv("QOR_BROKEN");
  return what != nullptr ? what : "";
}

// Whether the file open as `fd` is a run's journal (its name says so).
bool IsJournal(int fd) {
  char link[64], path[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  const char* name = std::strrchr(path, '/');
  return name != nullptr && std::strncmp(name + 1, ".qor-journal", 12) == 0;
}

// Whether a sync of `fd` is to be dropped.
bool Dropped(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || IsJournal(fd)) return false;
  if (std::strcmp(broken(), "folder-fsync") == 0) return S_ISDIR(st.st_mode);
  if (std::strcmp(broken(), "early-removal") == 0) return true;
  if (std::strcmp(broken(), "copy-fsync") == 0 && S_ISREG(st.st_mode)) {
    struct statfs fs;
    return fstatfs(fd, &fs) == 0 && fs.f_type == kFuseMagic;
  }
  return false;
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int fsync(int fd) {
  static const auto real = Next<int (*)(int)>("fsync");
  return Dropped(fd) ? 0 : real(fd);
}

int fdatasync(int fd) {
  static const auto real = Next<int (*)(int)>("fdatasync");
  return Dropped(fd) ? 0 : real(fd);
}

int syncfs(int fd) {
  static const auto real = Next<int (*)(int)>("syncfs");
  return std::strcmp(broken(), "early-removal") == 0 ? 0 : real(fd);
}

int sync_file_range(int fd, off64_t offset, off64_t nbytes, unsigned int flags) {
  static const auto real = Next<int (*)(int, off64_t, off64_t, unsigned int)>("sync_file_range");
  return Dropped(fd) ? 0 : real(fd, offset, nbytes, flags);
}

}  // extern "C"
