#pragma once

// What a file system can do that a move relies on. Local disks offer it
// all; network and FUSE file systems (sshfs, rclone mounts) lack some, and
// answer for it with errors of their own choosing. What a file system offers
// is found out once per run, by probes of the program's own in a folder of
// it, and every step of a move asks here rather than guessing from errors.

#include <sys/stat.h>
#include <sys/vfs.h>

#include <cstdint>

namespace qor::platform {

class RunJournal;

struct FileSystemAbilities {
  bool no_replace_rename = true;    // a rename that refuses a taken name
  bool links = true;                // hard links
  bool links_keep_identity = true;  // a link shows the inode number of its file
  bool unnamed_files = true;        // O_TMPFILE
  bool stable_identity = true;      // an inode number survives a rename
  bool modes = true;                // permission bits kept as set
  bool extended_attributes = true;  // a file's attributes can be listed
  bool truncate = true;             // a file can be cut short
  // Reading a file leaves its last-write time alone: rclone with its cache
  // gives a file read soon after it was written through the mount the time
  // of the read.
  bool reads_keep_times = true;
  // A file can be opened again to add to it: rclone without its cache
  // writes a file anew whenever it is opened for writing.
  bool appends = true;
};

// What the file system of the folder `dir` offers, probed in `dir` the first
// time it is asked for that file system; the probe's names are temporaries
// of `journal` (when given), so that a kill leaves none that a later run
// cannot remove. Where a probe cannot be made (no room, no right to write),
// what a local disk offers is assumed: the steps then fail as they would.
const FileSystemAbilities& AbilitiesOf(int dir, RunJournal* journal = nullptr);

// What AbilitiesOf found for `dir`'s file system, or a local disk's where
// it has not probed it (see ProbeIfRemote): for the checks that ask only
// once a file was moved or read, which never probe themselves, so that no
// probe runs where no journal records its names.
FileSystemAbilities KnownAbilitiesOf(int dir);

// Whether the file system `device` is known (probed) to have no rename that
// refuses a taken name: a rename there is then not tried, which on a
// remote one saves a round trip for each file.
bool KnownToLackNoReplaceRename(std::uint64_t device);

// Probes `dir`'s file system, as AbilitiesOf does, when it is a remote one
// (see IsRemote) not yet probed: for a source's, while the journal that
// records the probe's names (when given) is at hand.
void ProbeIfRemote(int dir, RunJournal* journal);

inline constexpr unsigned long kFuseType = 0x65735546UL;

// Whether a file system answers over a network or through a process of its
// own: there every operation waits a round trip, and work that overlaps
// those waits pays.
inline bool IsRemote(int fd) {
  struct statfs about;
  if (::fstatfs(fd, &about) != 0) return false;
  switch (static_cast<unsigned long>(about.f_type)) {
    case kFuseType:     // sshfs, rclone mount, NAS clients
    case 0x6969UL:      // NFS
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x517BUL:      // SMB
    case 0x01021997UL:  // 9p
    case 0x00C36400UL:  // Ceph
    case 0x6B414653UL:  // AFS
      return true;
    default:
      return false;
  }
}

// Renames `from` to `to` in the folder `dir`, where `to` is a fresh random
// name, without replacing anything; where the file system cannot promise
// that, a plain rename onto a name found free, which is as safe for a
// random name. 0 or the errno.
int RenameToFreshName(int dir, const char* from, const char* to);

// Renames `from` (in `from_dir`) to `to` (in `to_dir`), never replacing
// anything: a rename that refuses a taken name, or where the file system
// has none, a hard link and the removal of the old name. Where it has
// neither (rclone), EOPNOTSUPP: a plain rename there is no way to refuse a
// taken name, and rclone with its cache can even lose the file renamed over
// a name it has just written. 0 or the errno.
int RenameNoReplace(int from_dir, const char* from, int to_dir, const char* to);

}  // namespace qor::platform
