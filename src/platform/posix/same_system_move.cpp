// The move of one file or link by name, never replacing anything: a rename
// within one file system, a verified copy across two.

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/files.h"
#include "platform/posix/content_copy.h"
#include "platform/posix/cross_device_move.h"
#include "platform/posix/fd.h"
#include "platform/posix/file_system_abilities.h"
#include "platform/posix/identity.h"
#include "platform/posix/listing_state.h"

namespace qor::platform {

namespace {

// A folder that took a file's place between the check and the rename went
// along; it goes back where it was, never replacing what came there since.
Outcome PutBackFolder(int from_dir, const std::string& from, int to_dir, const std::string& to) {
  if (RenameNoReplace(to_dir, to.c_str(), from_dir, from.c_str()) == 0) return {EISDIR};
  return {kFolderTookItsPlace};
}

// Whether `a` and `b` are alike in all a file system that numbers each name
// on its own keeps truthfully: kind, mode, size and last write.
bool SameFacts(const struct stat& a, const struct stat& b) {
  return a.st_mode == b.st_mode && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Where the file system cannot rename without replacing: a hard link
// refuses an existing name just the same, and the old name goes only while
// it still names the file linked: by identity, or where links get numbers
// of their own (sshfs), by what it keeps of the file.
Outcome MoveByLink(int from_dir, const std::string& from, int to_dir, const std::string& to,
                   RunJournal* journal, const std::string& entry) {
  if (::linkat(from_dir, from.c_str(), to_dir, to.c_str(), 0) != 0) {
    if (errno == EXDEV) return MoveAcrossFileSystems(from_dir, from, to_dir, to, journal, entry);
    return {errno};
  }
  struct stat linked, now;
  int error = 0;
  if (::fstatat(to_dir, to.c_str(), &linked, AT_SYMLINK_NOFOLLOW) != 0 ||
      ::fstatat(from_dir, from.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
    error = errno;
  } else if (IdentityFromStat(linked) != IdentityFromStat(now) &&
             (AbilitiesOf(to_dir, journal).links_keep_identity || !SameFacts(linked, now))) {
    error = kChangedDuringMove;
  } else if (::unlinkat(from_dir, from.c_str(), 0) != 0) {
    error = errno;
  }
  if (error != 0) ::unlinkat(to_dir, to.c_str(), 0);
  return {error};
}

// The folder of a full name, opened as the system resolves any path, and the
// name within it: every step of a move then stays in that one folder.
struct Place {
  Fd dir;
  std::string name;
};

Place OpenPlace(const std::string& path) {
  const std::size_t slash = path.rfind(kSeparator);
  const std::string folder =
      slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  Place place{Fd(), slash == std::string::npos ? path : path.substr(slash + 1)};
  if (place.name.empty()) {
    errno = EINVAL;
    return place;
  }
  place.dir =
      OpenRetrying([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  return place;
}

// After a rename: a folder that took the file's place before it went back;
// `placed` gets what arrived, or `source` when it has gone on already (taken
// on by someone else: it did move).
Outcome CheckArrived(int from_dir, const std::string& from, int to_dir, const std::string& to,
                     FileIdentity* placed, const FileIdentity& source) {
  struct stat arrived;
  if (::fstatat(to_dir, to.c_str(), &arrived, AT_SYMLINK_NOFOLLOW) != 0) {
    if (placed != nullptr) *placed = source;
    return {};
  }
  if (S_ISDIR(arrived.st_mode)) return PutBackFolder(from_dir, from, to_dir, to);
  if (placed != nullptr) *placed = IdentityFromStat(arrived);
  return {};
}

// A power cut can leave a rename on the disk in the folder it went to but
// not in the one it came from: the file comes back under both names, one
// file with two links, and no run could move it again ("File exists"). When
// the taken name is that very file (the same number on the same system, and,
// as a file system may number files as it likes, every byte, the size, the
// mode and the last write alike), the move was done: the source's name goes,
// which loses nothing.
Outcome FinishMoveUnderBothNames(int from_dir, const std::string& from, int to_dir,
                                 const std::string& to) {
  struct stat a, b;
  if (::fstatat(from_dir, from.c_str(), &a, AT_SYMLINK_NOFOLLOW) != 0 ||
      ::fstatat(to_dir, to.c_str(), &b, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(a.st_mode) ||
      a.st_dev != b.st_dev || a.st_ino != b.st_ino || a.st_nlink < 2 ||
      !SameAsCopied(from_dir, from, to_dir, to)) {
    return {EEXIST};
  }
  // Reading them took a while: still that one file, just before its name goes.
  struct stat now;
  if (::fstatat(from_dir, from.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != b.st_dev ||
      now.st_ino != b.st_ino || now.st_nlink < 2) {
    return {EEXIST};
  }
  if (::unlinkat(from_dir, from.c_str(), 0) != 0) return {errno};
  return {};
}

// MoveAt for a full destination name.
Outcome MoveToPath(int from_dir, const std::string& from, const std::string& to) {
  const Place target = OpenPlace(to);
  if (!target.dir.IsValid()) return {errno};
  return MoveAt(from_dir, from, target.dir.get(), target.name, nullptr);
}

}  // namespace

Outcome MoveAt(int from_dir, const std::string& from, int to_dir, const std::string& to,
               FileIdentity* placed, RunJournal* journal, const std::string& entry) {
  // Only files and links are moved: a folder put in a file's place since the
  // listing would go with everything in it, under one log entry.
  struct stat source;
  if (::fstatat(from_dir, from.c_str(), &source, AT_SYMLINK_NOFOLLOW) != 0) return {errno};
  if (S_ISDIR(source.st_mode)) return {EISDIR};
  // (Where the source's file system is known to lack the rename, it is not
  // tried: across two file systems the ways below find that out too.)
  const bool lacks = KnownToLackNoReplaceRename(source.st_dev);
  if (lacks || ::renameat2(from_dir, from.c_str(), to_dir, to.c_str(), RENAME_NOREPLACE) != 0) {
    const int error = lacks ? EINVAL : errno;
    if ((error == EINVAL || error == ENOSYS) && AbilitiesOf(to_dir, journal).links) {
      return MoveByLink(from_dir, from, to_dir, to, journal, entry);
    }
    // Neither (rclone): a plain rename cannot refuse a taken name, and there
    // the file renamed over a name just written can even be lost. The file
    // is copied into its name, made exclusively, as onto another system.
    if (error == EEXIST) {
      const Outcome finished = FinishMoveUnderBothNames(from_dir, from, to_dir, to);
      return finished.ok() ? CheckArrived(from_dir, from, to_dir, to, placed, {}) : finished;
    }
    if (error != EXDEV && error != EINVAL && error != ENOSYS) return {error};
    const Outcome moved = MoveAcrossFileSystems(from_dir, from, to_dir, to, journal, entry);
    struct stat copy;
    if (moved.ok() && placed != nullptr &&
        ::fstatat(to_dir, to.c_str(), &copy, AT_SYMLINK_NOFOLLOW) == 0) {
      *placed = IdentityFromStat(copy);
    }
    return moved;
  }
  // The check above and the rename are two steps: what arrived is checked.
  return CheckArrived(from_dir, from, to_dir, to, placed, IdentityFromStat(source));
}

Outcome MoveListedFileAt(int from_dir, const std::string& from, int to_dir, const std::string& to,
                         FileIdentity* placed, RunJournal* journal, const std::string& entry,
                         std::uint64_t device) {
  if (KnownToLackNoReplaceRename(device)) {
    return MoveAt(from_dir, from, to_dir, to, placed, journal, entry);
  }
  if (::renameat2(from_dir, from.c_str(), to_dir, to.c_str(), RENAME_NOREPLACE) != 0) {
    const int error = errno;
    // Another file system after all (a bind mount), or no renaming without
    // replacing: the careful way.
    if (error == EXDEV || error == EINVAL || error == ENOSYS) {
      return MoveAt(from_dir, from, to_dir, to, placed, journal, entry);
    }
    if (error == EEXIST) {
      const Outcome finished = FinishMoveUnderBothNames(from_dir, from, to_dir, to);
      return finished.ok() ? CheckArrived(from_dir, from, to_dir, to, placed, {}) : finished;
    }
    return {error};
  }
  return CheckArrived(from_dir, from, to_dir, to, placed, {});
}

Outcome MoveFileNoReplace(const std::string& from, const std::string& to) {
  // The source's private name during a move across file systems lies in its
  // own folder, never in the working folder.
  const Place source = OpenPlace(from);
  if (!source.dir.IsValid()) return {errno};
  return MoveToPath(source.dir.get(), source.name, to);
}

Outcome MoveEntryNoReplace(const FolderListing& folder, const std::string& name,
                           const std::string& to) {
  if (folder.state_->fd < 0) return {EBADF};
  return MoveToPath(folder.state_->fd, name, to);
}

}  // namespace qor::platform
