#include "platform/posix/file_system_abilities.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/posix/fd.h"
#include "platform/posix/run_journal.h"
#include "platform/temporary_names.h"

namespace qor::platform {

namespace {

std::mutex known_mutex;
std::map<dev_t, FileSystemAbilities> known;

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

std::string ProbeName(int dir, RunJournal* journal) {
  return journal != nullptr ? journal->NextTemporary(dir) : RandomName(kTemporaryPrefix);
}

// The probes, on a file of their own made in `dir`; the file system's first
// answer that it lacks something is taken at its word.
FileSystemAbilities Probe(int dir, RunJournal* journal) {
  FileSystemAbilities can;
  const std::string first = ProbeName(dir, journal);
  Fd file(::openat(dir, first.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!file.IsValid()) return can;
  struct stat st;
  if (::fstat(file.get(), &st) == 0) can.modes = (st.st_mode & 07777) == 0600;
  // A file with no attributes at all: any answer but "none" or "not
  // supported" is the file system's way of saying it cannot list them.
  if (::flistxattr(file.get(), nullptr, 0) < 0 && errno != ENOTSUP) {
    can.extended_attributes = false;
  }
  can.truncate = ::write(file.get(), "x", 1) != 1 || ::ftruncate(file.get(), 0) == 0;
  // A time long past, to see whether reading the file keeps it.
  const struct timespec past = {946684800, 123456789};
  const struct timespec times[2] = {past, past};
  const bool timed = ::write(file.get(), "x", 1) == 1 && ::futimens(file.get(), times) == 0;
  file.Reset();
  // As the file system keeps it (sshfs keeps whole seconds).
  struct stat set;
  if (timed && ::fstatat(dir, first.c_str(), &set, AT_SYMLINK_NOFOLLOW) == 0) {
    // Read, then asked for its state while still open, as a copy does: that
    // is when rclone gives it the time of the read.
    Fd read(::openat(dir, first.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    char byte;
    if (read.IsValid() && ::read(read.get(), &byte, 1) == 1 && ::fstat(read.get(), &st) == 0) {
      read.Reset();
      can.reads_keep_times = SameTime(st.st_mtim, set.st_mtim) &&
                             (::fstatat(dir, first.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                              SameTime(st.st_mtim, set.st_mtim));
    }
  }
  if (::fstatat(dir, first.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    const off_t size = st.st_size;
    Fd more(::openat(dir, first.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
    const bool added =
        more.IsValid() && ::write(more.get(), "y", 1) == 1 && more.CloseReportingError() == 0;
    more.Reset();
    can.appends = added && ::fstatat(dir, first.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                  st.st_size == size + 1;
  }
  const std::string second = ProbeName(dir, journal);
  struct stat before, after;
  const bool seen = ::fstatat(dir, first.c_str(), &before, AT_SYMLINK_NOFOLLOW) == 0;
  std::string name = first;
  if (::renameat2(dir, first.c_str(), dir, second.c_str(), RENAME_NOREPLACE) != 0) {
    can.no_replace_rename = errno != EINVAL && errno != ENOSYS;
    if (!can.no_replace_rename && ::renameat(dir, first.c_str(), dir, second.c_str()) == 0) {
      name = second;
    }
  } else {
    name = second;
  }
  if (seen && name == second && ::fstatat(dir, second.c_str(), &after, AT_SYMLINK_NOFOLLOW) == 0) {
    can.stable_identity = before.st_ino == after.st_ino;
  }
  // A FUSE file system makes its numbers up, and may make up new ones for a
  // file it has forgotten (rclone does, now and then, after a rename): one
  // probe cannot show them stable.
  struct statfs about;
  if (::fstatfs(dir, &about) == 0 && static_cast<unsigned long>(about.f_type) == kFuseType) {
    can.stable_identity = false;
  }
  const std::string link = ProbeName(dir, journal);
  if (::linkat(dir, name.c_str(), dir, link.c_str(), 0) == 0) {
    struct stat linked;
    can.links_keep_identity = ::fstatat(dir, name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0 ||
                              ::fstatat(dir, link.c_str(), &linked, AT_SYMLINK_NOFOLLOW) != 0 ||
                              before.st_ino == linked.st_ino;
    ::unlinkat(dir, link.c_str(), 0);
  } else {
    can.links = errno == EEXIST;  // a name taken meanwhile tells nothing
  }
  ::unlinkat(dir, name.c_str(), 0);
  const Fd unnamed(::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  can.unnamed_files = unnamed.IsValid();
  return can;
}

}  // namespace

const FileSystemAbilities& AbilitiesOf(int dir, RunJournal* journal) {
  static const FileSystemAbilities unknown;
  struct stat st;
  if (::fstat(dir, &st) != 0) return unknown;
  const std::lock_guard lock(known_mutex);
  const auto found = known.find(st.st_dev);
  if (found != known.end()) return found->second;
  // Entries are never removed: a reference stays good.
  return known.emplace(st.st_dev, Probe(dir, journal)).first->second;
}

bool KnownToLackNoReplaceRename(std::uint64_t device) {
  const std::lock_guard lock(known_mutex);
  const auto found = known.find(static_cast<dev_t>(device));
  return found != known.end() && !found->second.no_replace_rename;
}

void ProbeIfRemote(int dir, RunJournal* journal) {
  static std::set<dev_t> local;
  struct stat st;
  if (::fstat(dir, &st) != 0) return;
  {
    const std::lock_guard lock(known_mutex);
    if (local.count(st.st_dev) != 0 || known.count(st.st_dev) != 0) return;
  }
  // A remote one is probed by AbilitiesOf under its lock: a copy beside this
  // one that asks meanwhile waits for the answer rather than go on without.
  if (IsRemote(dir)) {
    AbilitiesOf(dir, journal);
  } else {
    const std::lock_guard lock(known_mutex);
    local.insert(st.st_dev);
  }
}

FileSystemAbilities KnownAbilitiesOf(int dir) {
  struct stat st;
  if (::fstat(dir, &st) != 0) return {};
  const std::lock_guard lock(known_mutex);
  const auto found = known.find(st.st_dev);
  return found != known.end() ? found->second : FileSystemAbilities{};
}

int RenameToFreshName(int dir, const char* from, const char* to) {
  if (::renameat2(dir, from, dir, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  struct stat st;
  if (::fstatat(dir, to, &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return ::renameat(dir, from, dir, to) == 0 ? 0 : errno;
}

int RenameNoReplace(int from_dir, const char* from, int to_dir, const char* to) {
  if (::renameat2(from_dir, from, to_dir, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (!AbilitiesOf(to_dir).links) return EOPNOTSUPP;
  if (::linkat(from_dir, from, to_dir, to, 0) != 0) return errno;
  if (::unlinkat(from_dir, from, 0) == 0) return 0;
  const int error = errno;
  ::unlinkat(to_dir, to, 0);
  return error;
}

}  // namespace qor::platform
