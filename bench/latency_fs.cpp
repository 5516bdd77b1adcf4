// qor_latency_fs: a passthrough FUSE file system over a folder that waits a
// fixed time in every request, standing in for a network share, a NAS or a
// slow USB disk in the benchmark:
//
//   qor_latency_fs [-o delay_ms=N | -o delay_us=N] FOLDER MOUNTPOINT [FUSE options]
//
// Every request the kernel sends costs one delay (1 ms unless told), and
// several threads serve them, so that requests issued in parallel wait
// together, as they would on a share. Nothing is cached in the kernel unless
// asked for (-o attr_timeout=S, entry_timeout=S): each lookup is a round trip.
// Mounting needs root (there is no fusermount3 here); `umount MOUNTPOINT`
// ends it.
#define FUSE_USE_VERSION 314

#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

struct Layer {
  timespec delay{};
  int folder = -1;  // the folder beneath, opened before the mount may hide it
};

const Layer& layer() {
  return *static_cast<const Layer*>(fuse_get_context()->private_data);
}

// The library looks a name up (getattr) right after it made it; a share
// answers both in one round trip, so that lookup does not wait again.
thread_local bool g_name_just_made = false;

void wait_round_trip() {
  if (std::exchange(g_name_just_made, false)) return;
  timespec left = layer().delay;
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &left, &left) == EINTR) {
  }
}

// The working folder is the folder beneath (see layer_init): paths become
// relative to it.
const char* rel(const char* path) {
  return path[1] != '\0' ? path + 1 : ".";
}

int status(int result) {
  return result == -1 ? -errno : 0;
}

int made(int result) {
  if (result == -1) return -errno;
  g_name_just_made = true;
  return 0;
}

int fd_of(const fuse_file_info* fi) {
  return static_cast<int>(fi->fh);
}

struct Dir {
  DIR* stream;
  dirent* entry = nullptr;  // read, but not yet taken by the kernel's buffer
  off_t offset = 0;
};

Dir* dir_of(const fuse_file_info* fi) {
  return reinterpret_cast<Dir*>(fi->fh);
}

void* layer_init(fuse_conn_info*, fuse_config* cfg) {
  cfg->use_ino = 1;
  // Open files keep their own descriptor beneath, so a file removed or
  // renamed over while open goes at once, as on a share, rather than linger
  // beneath as .fuse_hidden… in the folder being archived.
  cfg->hard_remove = 1;
  cfg->nullpath_ok = 1;
  auto* self = static_cast<Layer*>(fuse_get_context()->private_data);
  if (fchdir(self->folder) != 0) {
    std::perror("qor_latency_fs: the folder beneath");
    fuse_exit(fuse_get_context()->fuse);
  }
  return self;
}

int layer_getattr(const char* path, struct stat* st, fuse_file_info* fi) {
  wait_round_trip();
  return status(fi != nullptr ? fstat(fd_of(fi), st) : lstat(rel(path), st));
}

int layer_access(const char* path, int mask) {
  wait_round_trip();
  return status(access(rel(path), mask));
}

int layer_readlink(const char* path, char* buffer, size_t size) {
  wait_round_trip();
  const ssize_t n = readlink(rel(path), buffer, size - 1);
  if (n == -1) return -errno;
  buffer[n] = '\0';
  return 0;
}

int layer_mknod(const char* path, mode_t mode, dev_t device) {
  wait_round_trip();
  return made(mknod(rel(path), mode, device));
}

int layer_mkdir(const char* path, mode_t mode) {
  wait_round_trip();
  return made(mkdir(rel(path), mode));
}

int layer_unlink(const char* path) {
  wait_round_trip();
  return status(unlink(rel(path)));
}

int layer_rmdir(const char* path) {
  wait_round_trip();
  return status(rmdir(rel(path)));
}

int layer_symlink(const char* target, const char* path) {
  wait_round_trip();
  return made(symlink(target, rel(path)));
}

int layer_rename(const char* from, const char* to, unsigned int flags) {
  wait_round_trip();
  if ((flags & ~unsigned{RENAME_NOREPLACE}) != 0) return -EINVAL;  // no exchange, no whiteout
  return status(renameat2(AT_FDCWD, rel(from), AT_FDCWD, rel(to), flags));
}

int layer_link(const char* from, const char* to) {
  wait_round_trip();
  return made(link(rel(from), rel(to)));
}

int layer_chmod(const char* path, mode_t mode, fuse_file_info* fi) {
  wait_round_trip();
  return status(fi != nullptr ? fchmod(fd_of(fi), mode) : chmod(rel(path), mode));
}

int layer_chown(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi) {
  wait_round_trip();
  return status(fi != nullptr ? fchown(fd_of(fi), uid, gid) : lchown(rel(path), uid, gid));
}

int layer_truncate(const char* path, off_t size, fuse_file_info* fi) {
  wait_round_trip();
  return status(fi != nullptr ? ftruncate(fd_of(fi), size) : truncate(rel(path), size));
}

int layer_utimens(const char* path, const timespec times[2], fuse_file_info* fi) {
  wait_round_trip();
  return status(fi != nullptr ? futimens(fd_of(fi), times)
                              : utimensat(AT_FDCWD, rel(path), times, AT_SYMLINK_NOFOLLOW));
}

int layer_create(const char* path, mode_t mode, fuse_file_info* fi) {
  wait_round_trip();
  const int fd = open(rel(path), fi->flags, mode);
  if (fd == -1) return -errno;
  fi->fh = static_cast<uint64_t>(fd);
  return made(0);
}

int layer_open(const char* path, fuse_file_info* fi) {
  wait_round_trip();
  const int fd = open(rel(path), fi->flags);
  if (fd == -1) return -errno;
  fi->fh = static_cast<uint64_t>(fd);
  return 0;
}

// The kernel takes a short count for the end of the file (read) or a failure
// (write), so both go on until the whole request is done.
int layer_read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  wait_round_trip();
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd_of(fi), buffer + done, size - done, offset + off_t(done));
    if (n == 0) break;
    if (n == -1) {
      if (errno == EINTR) continue;
      return -errno;
    }
    done += size_t(n);
  }
  return int(done);
}

int layer_write(const char*, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  wait_round_trip();
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd_of(fi), buffer + done, size - done, offset + off_t(done));
    if (n == -1) {
      if (errno == EINTR) continue;
      return -errno;
    }
    done += size_t(n);
  }
  return int(done);
}

int layer_statfs(const char* path, struct statvfs* st) {
  wait_round_trip();
  return status(statvfs(rel(path), st));
}

// Writes reach the folder beneath at once, so a close (flush) has nothing to
// hand on; it still costs its round trip.
int layer_flush(const char*, fuse_file_info*) {
  wait_round_trip();
  return 0;
}

int layer_release(const char*, fuse_file_info* fi) {
  wait_round_trip();
  close(fd_of(fi));
  return 0;
}

int layer_fsync(const char*, int data_only, fuse_file_info* fi) {
  wait_round_trip();
  return status(data_only != 0 ? fdatasync(fd_of(fi)) : fsync(fd_of(fi)));
}

int layer_fallocate(const char*, int mode, off_t offset, off_t length, fuse_file_info* fi) {
  wait_round_trip();
  return status(fallocate(fd_of(fi), mode, offset, length));
}

int layer_setxattr(const char* path, const char* name, const char* value, size_t size, int flags) {
  wait_round_trip();
  return status(lsetxattr(rel(path), name, value, size, flags));
}

int layer_getxattr(const char* path, const char* name, char* value, size_t size) {
  wait_round_trip();
  const ssize_t n = lgetxattr(rel(path), name, value, size);
  return n == -1 ? -errno : int(n);
}

int layer_listxattr(const char* path, char* list, size_t size) {
  wait_round_trip();
  const ssize_t n = llistxattr(rel(path), list, size);
  return n == -1 ? -errno : int(n);
}

int layer_removexattr(const char* path, const char* name) {
  wait_round_trip();
  return status(lremovexattr(rel(path), name));
}

int layer_opendir(const char* path, fuse_file_info* fi) {
  wait_round_trip();
  DIR* stream = opendir(rel(path));
  if (stream == nullptr) return -errno;
  fi->fh = reinterpret_cast<uint64_t>(new Dir{stream});
  return 0;
}

// One request fills one buffer of the kernel's; the offset of each entry is
// the stream's position after it, so that the next request goes on from there
// (or from wherever a seek put it).
int layer_readdir(const char*, void* buffer, fuse_fill_dir_t fill, off_t offset, fuse_file_info* fi,
                  fuse_readdir_flags) {
  wait_round_trip();
  Dir& dir = *dir_of(fi);
  if (offset != dir.offset) {
    seekdir(dir.stream, offset);
    dir.entry = nullptr;
    dir.offset = offset;
  }
  for (;;) {
    if (dir.entry == nullptr) {
      errno = 0;
      dir.entry = readdir(dir.stream);
      if (dir.entry == nullptr) return -errno;  // 0 at the end
    }
    struct stat st {};
    st.st_ino = dir.entry->d_ino;
    st.st_mode = static_cast<mode_t>(DTTOIF(dir.entry->d_type));
    const off_t next = telldir(dir.stream);
    if (fill(buffer, dir.entry->d_name, &st, next, fuse_fill_dir_flags{}) != 0) return 0;
    dir.entry = nullptr;
    dir.offset = next;
  }
}

int layer_releasedir(const char*, fuse_file_info* fi) {
  wait_round_trip();
  Dir* dir = dir_of(fi);
  closedir(dir->stream);
  delete dir;
  return 0;
}

int layer_fsyncdir(const char*, int data_only, fuse_file_info* fi) {
  wait_round_trip();
  const int fd = dirfd(dir_of(fi)->stream);
  return status(data_only != 0 ? fdatasync(fd) : fsync(fd));
}

fuse_operations operations() {
  fuse_operations ops{};
  ops.getattr = layer_getattr;
  ops.readlink = layer_readlink;
  ops.mknod = layer_mknod;
  ops.mkdir = layer_mkdir;
  ops.unlink = layer_unlink;
  ops.rmdir = layer_rmdir;
  ops.symlink = layer_symlink;
  ops.rename = layer_rename;
  ops.link = layer_link;
  ops.chmod = layer_chmod;
  ops.chown = layer_chown;
  ops.truncate = layer_truncate;
  ops.open = layer_open;
  ops.read = layer_read;
  ops.write = layer_write;
  ops.statfs = layer_statfs;
  ops.flush = layer_flush;
  ops.release = layer_release;
  ops.fsync = layer_fsync;
  ops.setxattr = layer_setxattr;
  ops.getxattr = layer_getxattr;
  ops.listxattr = layer_listxattr;
  ops.removexattr = layer_removexattr;
  ops.opendir = layer_opendir;
  ops.readdir = layer_readdir;
  ops.releasedir = layer_releasedir;
  ops.fsyncdir = layer_fsyncdir;
  ops.init = layer_init;
  ops.access = layer_access;
  ops.create = layer_create;
  ops.utimens = layer_utimens;
  ops.fallocate = layer_fallocate;
  return ops;
}

struct Options {
  unsigned delay_ms = 1;
  int delay_us = -1;  // finer, and wins over delay_ms when given
  char* folder = nullptr;
  int help = 0;
};

enum { kHelp };

const fuse_opt kOptions[] = {
    {"delay_ms=%u", offsetof(Options, delay_ms), 0},
    {"--delay-ms=%u", offsetof(Options, delay_ms), 0},
    {"--delay-ms %u", offsetof(Options, delay_ms), 0},
    {"delay_us=%d", offsetof(Options, delay_us), 0},
    FUSE_OPT_KEY("-h", kHelp),
    FUSE_OPT_KEY("--help", kHelp),
    FUSE_OPT_END,
};

// The first word that is no option is the folder beneath; the library takes
// the rest (the mount point, -f, -d, ...).
int take_option(void* data, const char* arg, int key, fuse_args*) {
  auto& options = *static_cast<Options*>(data);
  if (key == kHelp) {
    options.help = 1;
    return 0;
  }
  if (key == FUSE_OPT_KEY_NONOPT && options.folder == nullptr) {
    options.folder = strdup(arg);
    return 0;
  }
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  fuse_args args = FUSE_ARGS_INIT(argc, argv);
  Options options;
  if (fuse_opt_parse(&args, &options, kOptions, take_option) != 0) return 2;
  if (options.help != 0 || options.folder == nullptr) {
    std::fprintf(options.help != 0 ? stdout : stderr,
                 "usage: %s [-o delay_ms=N | -o delay_us=N] FOLDER MOUNTPOINT [FUSE options]\n"
                 "  Mounts FOLDER at MOUNTPOINT, waiting N ms (default 1) in every request.\n"
                 "  -f stays in the foreground, -d prints every request, -s serves one at a "
                 "time;\n  -o attr_timeout=S,entry_timeout=S lets the kernel cache for S s.\n",
                 argv[0]);
    return options.help != 0 ? 0 : 2;
  }
  Layer self;
  const long long delay_ns =
      options.delay_us >= 0 ? options.delay_us * 1000LL : options.delay_ms * 1000000LL;
  self.delay = {static_cast<time_t>(delay_ns / 1000000000),
                static_cast<long>(delay_ns % 1000000000)};
  self.folder = open(options.folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (self.folder == -1) {
    std::fprintf(stderr, "%s: %s: %s\n", argv[0], options.folder, std::strerror(errno));
    return 2;
  }
  // No caching in the kernel, and up to 64 requests waiting at a time (the
  // library's own default for idle threads is refused by its own check); ahead
  // of the caller's options, so that those still win.
  fuse_opt_insert_arg(
      &args, 1,
      "-oentry_timeout=0,negative_timeout=0,attr_timeout=0,max_threads=64,max_idle_threads=64");
  const fuse_operations ops = operations();
  const int result = fuse_main(args.argc, args.argv, &ops, &self);
  fuse_opt_free_args(&args);
  std::free(options.folder);
  close(self.folder);
  return result;
}
