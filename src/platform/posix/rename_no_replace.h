#pragma once

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>

namespace qor::platform {

// Renames `from` to `to` in the folder `dir` without replacing anything;
// where the file system cannot promise that (sshfs and other FUSE mounts
// say EINVAL), a plain rename onto a name found free, which is as safe for
// a fresh random name. 0 or the errno.
inline int RenameToFreshName(int dir, const char* from, const char* to) {
  if (::renameat2(dir, from, dir, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  struct stat st;
  if (::fstatat(dir, to, &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return ::renameat(dir, from, dir, to) == 0 ? 0 : errno;
}

}  // namespace qor::platform
