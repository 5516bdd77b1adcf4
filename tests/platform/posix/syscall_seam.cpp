#include "syscall_seam.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <string_view>

namespace qor::testing {

namespace {

std::atomic<SyscallSeam*> active{nullptr};

// A hook's own calls pass straight through.
thread_local bool in_hook = false;

}  // namespace

void Seen(const SyscallEvent& event) {
  SyscallSeam* seam = SyscallSeam::Active();
  if (seam == nullptr || in_hook) return;
  in_hook = true;
  seam->Record(event);
  in_hook = false;
}

int Failing(const SyscallEvent& event) {
  SyscallSeam* seam = SyscallSeam::Active();
  if (seam == nullptr || in_hook || !seam->fail) return 0;
  in_hook = true;
  const int error = seam->fail(event);
  in_hook = false;
  return error;
}

template <typename Function>
Function Real(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

SyscallSeam::SyscallSeam() {
  active = this;
}

SyscallSeam::~SyscallSeam() {
  active = nullptr;
}

SyscallSeam* SyscallSeam::Active() {
  return active;
}

std::vector<SyscallEvent> SyscallSeam::Events() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

void SyscallSeam::Record(const SyscallEvent& event) {
  if (before) before(event);
  const std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(event);
}

}  // namespace qor::testing

using qor::testing::Real;
using qor::testing::Seen;

extern "C" int syncfs(int fd) {
  Seen({"syncfs", {}, {}});
  static const auto real = Real<int (*)(int)>("syncfs");
  return real(fd);
}

extern "C" int fsync(int fd) {
  struct stat st;
  const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
  std::string path;
  if (folder) {
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = ::readlink(link, target, sizeof target);
    if (length > 0) path.assign(target, static_cast<std::size_t>(length));
  }
  Seen({"fsync", folder ? "folder" : "", path});
  static const auto real = Real<int (*)(int)>("fsync");
  return real(fd);
}

extern "C" int fdatasync(int fd) {
  Seen({"fdatasync", {}, {}});
  static const auto real = Real<int (*)(int)>("fdatasync");
  return real(fd);
}

extern "C" int renameat2(int from_dir, const char* from, int to_dir, const char* to,
                         unsigned int flags) {
  Seen({"rename", from, to});
  if (const int error = qor::testing::Failing({"rename", from, to})) {
    errno = error;
    return -1;
  }
  static const auto real = Real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  return real(from_dir, from, to_dir, to, flags);
}

extern "C" int linkat(int from_dir, const char* from, int to_dir, const char* to, int flags) {
  Seen({"link", from, to});
  static const auto real = Real<int (*)(int, const char*, int, const char*, int)>("linkat");
  return real(from_dir, from, to_dir, to, flags);
}

extern "C" int futimens(int fd, const struct timespec times[2]) {
  Seen({"times", {}, {}});
  static const auto real = Real<int (*)(int, const struct timespec*)>("futimens");
  return real(fd, times);
}

extern "C" int unlinkat(int dir, const char* name, int flags) {
  Seen({"unlink", name, {}});
  static const auto real = Real<int (*)(int, const char*, int)>("unlinkat");
  return real(dir, name, flags);
}

extern "C" int fstatat(int dir, const char* name, struct stat* st, int flags) {
  // Only the program's own names: every other look-up passes unseen.
  if (std::string_view(name).starts_with(".qor-")) Seen({"stat", name, {}});
  static const auto real = Real<int (*)(int, const char*, struct stat*, int)>("fstatat");
  return real(dir, name, st, flags);
}

extern "C" int fstatfs(int fd, struct statfs* about) {
  static const auto real = Real<int (*)(int, struct statfs*)>("fstatfs");
  const int result = real(fd, about);
  const qor::testing::SyscallSeam* seam = qor::testing::SyscallSeam::Active();
  if (result == 0 && seam != nullptr && seam->remote) about->f_type = 0x65735546;  // FUSE
  return result;
}
