// A file's move onto another file system, in the steps a batch takes: a
// verified copy, without a name or under a temporary one, its placement
// without replacing, and the removal of the source only while it is the very
// file copied.

#include "platform/posix/cross_device_move.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/posix/attribute_copy.h"
#include "platform/posix/fd.h"
#include "platform/posix/file_system_abilities.h"

namespace qor::platform {

namespace {

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The mode a copy is made with: the source's, where no one else could write
// to the copy meanwhile; the rest is set once it is whole.
mode_t FirstMode(const struct stat& source) {
  return source.st_mode & 0755;
}

// Makes the open file `out` a copy of the open regular file `in`, whose
// state when the move began is `source`; synced when `sync`. `made` gets
// the copy's state, its identity among it (st_ino 0 where unknown).
int CopyInto(int from_dir, int in, const struct stat& source, int out, bool sync, Pacer& pacer,
             struct stat& made) {
  if (const int error = CopyContent(in, out, source.st_size, pacer)) return error;
  // The source changed while it was copied: better to leave it than to keep
  // a copy that may be torn.
  struct stat after;
  if (::fstat(in, &after) != 0) return errno;
  if (after.st_size == source.st_size && !SameTime(after.st_mtim, source.st_mtim) &&
      !KnownAbilitiesOf(from_dir).reads_keep_times) {
    // The read itself gave it the time (rclone with its cache): it gets its
    // own back, and only its size can tell a change there.
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (::futimens(in, times) == 0 && ::fstat(in, &after) != 0) return errno;
  }
  if (after.st_size != source.st_size || !SameTime(after.st_mtim, source.st_mtim)) {
    return kChangedDuringMove;
  }
  if (const int error = CopyAttributes(in, out, source, &made, from_dir)) return error;
  // As set on it: what tells it apart where its number may change with its
  // name (see RemoveCopy).
  made.st_atim = source.st_atim;
  made.st_mtim = source.st_mtim;
  if (sync) return ::fsync(out) == 0 ? 0 : errno;
  // The batch syncs later; the disk can start writing now, while the next
  // files are copied.
  ::sync_file_range(out, 0, 0, SYNC_FILE_RANGE_WRITE);
  return 0;
}

// Makes the temporary `temp` in `dir_fd` a copy of the open regular file
// `in`, whose state when the move began is `source`; synced when `sync`.
int CopyRegularFile(int from_dir, int in, const struct stat& source, int dir_fd,
                    const std::string& temp, bool sync, Pacer& pacer, struct stat& made) {
  Fd out(
      ::openat(dir_fd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, FirstMode(source)));
  if (!out.IsValid()) return errno;
  int error = 0;
  try {
    error = CopyInto(from_dir, in, source, out.get(), sync, pacer, made);
  } catch (...) {
    // No name of the program's stays behind, whatever ended the copy.
    out.Reset();
    ::unlinkat(dir_fd, temp.c_str(), 0);
    throw;
  }
  if (error == 0) error = out.CloseReportingError();
  out.Reset();  // a file held open may outlive its removal (rclone without a cache)
  if (error != 0) ::unlinkat(dir_fd, temp.c_str(), 0);
  return error;
}

// Copies held open without a name until they are placed: a kill leaves
// nothing of them behind. A batch holds one per file, so they are limited
// to a share of the descriptors the process may have; beyond it, and where
// the file system cannot make them, copies get a temporary name.
std::atomic<bool> unnamed_allowed = true;
std::atomic<int> unnamed_open = 0;

int UnnamedLimit() {
  static const int limit = [] {
    struct rlimit files;
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return 256;
    return static_cast<int>(std::min<rlim_t>(files.rlim_cur / 4, 1024));
  }();
  return limit;
}

// An unnamed file in `dir_fd`, or an invalid one where there is none to be
// had; counted while it is open.
Fd OpenUnnamed(int dir_fd, mode_t mode) {
  if (!unnamed_allowed) return Fd();
  if (unnamed_open.fetch_add(1) >= UnnamedLimit()) {
    --unnamed_open;
    return Fd();
  }
  Fd out(::openat(dir_fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  if (!out.IsValid()) --unnamed_open;
  return out;
}

// Makes the temporary `temp` in `dir_fd` a link with the same target as the
// link `from` (a name in the folder `from_dir`).
int CopySymbolicLink(int from_dir, const std::string& from, const struct stat& source, int dir_fd,
                     const std::string& temp) {
  std::vector<char> target(static_cast<std::size_t>(source.st_size > 0 ? source.st_size : 255) + 1);
  const ssize_t length = ::readlinkat(from_dir, from.c_str(), target.data(), target.size());
  if (length < 0) return errno;
  if (static_cast<std::size_t>(length) >= target.size()) return kChangedDuringMove;
  target[static_cast<std::size_t>(length)] = '\0';
  if (::symlinkat(target.data(), dir_fd, temp.c_str()) != 0) return errno;
  if (::fchownat(dir_fd, temp.c_str(), source.st_uid, source.st_gid, AT_SYMLINK_NOFOLLOW) != 0 &&
      errno != EPERM) {
    const int error = errno;
    ::unlinkat(dir_fd, temp.c_str(), 0);
    return error;
  }
  const struct timespec times[2] = {source.st_atim, source.st_mtim};
  ::utimensat(dir_fd, temp.c_str(), times,
              AT_SYMLINK_NOFOLLOW);  // best effort: not all file systems keep link times
  return 0;
}

// Whether what now lies at `taken` is the very file that was copied, as it
// was when the copy began. Where a rename may give a file another number
// (rclone), what the file system keeps truthfully has to do.
bool IsUnchanged(int dir, const std::string& taken, const struct stat& source) {
  struct stat now;
  if (::fstatat(dir, taken.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) return false;
  return now.st_dev == source.st_dev &&
         (now.st_ino == source.st_ino || !KnownAbilitiesOf(dir).stable_identity) &&
         now.st_size == source.st_size && SameTime(now.st_mtim, source.st_mtim) &&
         (now.st_mode & S_IFMT) == (source.st_mode & S_IFMT);
}

// Removes the source, once the copy is in place and durable. The source is
// first taken away from its name, so that whatever may have been saved under
// that name since is never what gets removed; it goes only when it is the file
// that was copied, unchanged. Otherwise it is put back, and the copy goes.
Outcome RemoveSourceIfUnchanged(int from_dir, const std::string& from, const struct stat& source,
                                OwnChanges* own, RunJournal* journal, int to_dir,
                                const std::string& name, const std::string& entry,
                                const std::string& recorded, std::shared_ptr<Fd>& held) {
  // A change of the status (a write, truncation and rewrite to the same
  // size and time) shows in the change time until the rename below, which
  // sets it itself; so does the run's own removal of another of its names.
  struct stat now;
  if (::fstatat(from_dir, from.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) return {errno};
  const FileIdentity identity{static_cast<std::uint64_t>(source.st_dev),
                              static_cast<std::uint64_t>(source.st_ino)};
  const bool same_file = now.st_ino == source.st_ino ||
                         (!KnownAbilitiesOf(from_dir).stable_identity &&
                          now.st_size == source.st_size && SameTime(now.st_mtim, source.st_mtim));
  if (now.st_dev != source.st_dev || !same_file ||
      !(SameTime(now.st_ctim, source.st_ctim) ||
        (own != nullptr && own->Explains(identity, now.st_ctim)))) {
    return {kChangedDuringMove};
  }
  std::string taken;
  int error = EEXIST;
  for (int attempt = 0; attempt < 16 && error == EEXIST; ++attempt) {
    if (attempt == 0 && !recorded.empty()) {
      taken = recorded;
    } else {
      taken = RandomName(kTakenPrefix);
      if (journal != nullptr) {
        // On the disk before the source takes the name: a source on
        // another disk could keep it through a power cut that the record
        // would not survive.
        journal->TakingAway(from_dir, taken, to_dir, name, entry);
        if (const int lost = journal->Sync()) return {lost};
      }
    }
    error = RenameToFreshName(from_dir, from.c_str(), taken.c_str());
  }
  if (error != 0) return {error};
  // Its name no longer leads to it: another run that reaches the name now
  // leaves it, and the file is not held open through its removal (on a
  // share without a cache an open file can outlive it).
  held.reset();
  if (IsUnchanged(from_dir, taken, source)) {
    // A file with further names lives on: held, so that the change time
    // this removal gives it can be known.
    Fd still;
    if (own != nullptr && now.st_nlink > 1) {
      still.Reset(::openat(from_dir, taken.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    }
    if (::unlinkat(from_dir, taken.c_str(), 0) == 0) {
      struct stat after;
      if (still.IsValid() && ::fstat(still.get(), &after) == 0) own->Note(identity, after.st_ctim);
      return {};
    }
    error = errno;
  } else {
    error = kChangedDuringMove;
  }
  // Back under its own name; should that be taken again by now, the file
  // keeps its private name rather than replace anything, and the outcome
  // says where it is.
  if (RenameNoReplace(from_dir, taken.c_str(), from_dir, from.c_str()) != 0) return {error, taken};
  return {error};
}

// Removes the copy `name` in `dir` again, if it is still the one made.
void RemoveCopy(int dir, const std::string& name, const struct stat& copy) {
  struct stat now;
  if (::fstatat(dir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == copy.st_dev &&
      (now.st_ino == copy.st_ino ||
       (!KnownAbilitiesOf(dir).stable_identity && now.st_size == copy.st_size &&
        SameTime(now.st_mtim, copy.st_mtim)))) {
    ::unlinkat(dir, name.c_str(), 0);
  }
}

// The sources this process holds locked, by identity: the names of one
// file (hard links) share one lock, as a lock of the same process through
// another open of the file would wait on the first.
std::mutex held_mutex;
std::map<std::pair<dev_t, ino_t>, std::weak_ptr<Fd>> held_sources;

// Locks the open source `in` (`from` in `from_dir`, `source` its state)
// against other runs into `held`; 0, or kInUseByAnotherRun where another
// run holds it, or held it and moved it meanwhile (its name no longer leads
// to it). Where the file system has no locks nothing can be told, and the
// run goes on as before.
int HoldSource(int in, int from_dir, const std::string& from, const struct stat& source,
               std::shared_ptr<Fd>& held) {
  const std::lock_guard lock(held_mutex);
  std::weak_ptr<Fd>& slot = held_sources[{source.st_dev, source.st_ino}];
  if ((held = slot.lock())) return 0;
  int locked;
  do {
    locked = ::flock(in, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    held_sources.erase({source.st_dev, source.st_ino});
    return errno == EWOULDBLOCK ? kInUseByAnotherRun : 0;
  }
  struct stat now;
  if (::fstatat(from_dir, from.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
      now.st_dev != source.st_dev || now.st_ino != source.st_ino) {
    held_sources.erase({source.st_dev, source.st_ino});
    return kInUseByAnotherRun;
  }
  // A second descriptor of the same open file keeps the lock for as long as
  // any copy of this file needs it.
  held = std::make_shared<Fd>(::fcntl(in, F_DUPFD_CLOEXEC, 0));
  slot = held;
  if (held_sources.size() > 4096)
    std::erase_if(held_sources, [](const auto& s) { return s.second.expired(); });
  return 0;
}

}  // namespace

Outcome CrossCopy::Make(int from_dir, const std::string& from, int to_dir, const std::string& name,
                        bool sync, const KeepGoing* keep_going, RunJournal* journal) {
  struct stat& source = source_;
  if (::fstatat(from_dir, from.c_str(), &source, AT_SYMLINK_NOFOLLOW) != 0) return {errno};
  if (S_ISDIR(source.st_mode)) return {EISDIR};
  if (!S_ISREG(source.st_mode) && !S_ISLNK(source.st_mode)) return {EOPNOTSUPP};
  if (name.empty()) return {EINVAL};

  // Refuse early rather than copy a large file only to find the name taken;
  // a small one is found out as cheaply when it is put in place.
  constexpr off_t kSmallFile = 1 << 17;
  struct stat existing;
  if (source.st_size > kSmallFile &&
      ::fstatat(to_dir, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    return {EEXIST};
  }

  Fd in;
  if (S_ISREG(source.st_mode)) {
    // Without blocking: a pipe swapped in for the file would hold the open.
    in.Reset(::openat(from_dir, from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!in.IsValid()) return {errno};
    struct stat opened;
    if (::fstat(in.get(), &opened) != 0) return {errno};
    if (!S_ISREG(opened.st_mode) || opened.st_dev != source.st_dev ||
        opened.st_ino != source.st_ino) {
      return {kChangedDuringMove};
    }
    source = opened;
    // Held from before its copy begins until it is gone or kept: another run
    // of this program that reached it first is left to move it, rather than
    // both copying it and both keeping their copies.
    if (const int error = HoldSource(in.get(), from_dir, from, source, held_)) return {error};
  }

  Pacer pacer(keep_going);
  CloseUnnamed();
  // A remote source's file system is probed here, where the probe's names
  // can be journaled, rather than where a copy first asks.
  ProbeIfRemote(from_dir, journal);
  const FileSystemAbilities& can = AbilitiesOf(to_dir, journal);
  if (!can.no_replace_rename && !can.links) {
    return MakeInPlace(from_dir, from, in.get(), to_dir, name, sync, pacer, journal);
  }
  if (S_ISREG(source.st_mode) && can.unnamed_files) {
    if (Fd out = OpenUnnamed(to_dir, FirstMode(source)); out.IsValid()) {
      unnamed_ = std::move(out);
      int error = CopyInto(from_dir, in.get(), source, unnamed_.get(), sync, pacer, copy_);
      if (error == 0 && copy_.st_ino == 0 && ::fstat(unnamed_.get(), &copy_) != 0) error = errno;
      if (error != 0) CloseUnnamed();
      return {error};
    }
  }
  if (journal != nullptr) {
    if (const int lost = journal->Lost()) return {lost};
  }
  std::string temp;
  int error = EEXIST;
  copy_.st_ino = 0;
  for (int attempt = 0; attempt < 16 && error == EEXIST; ++attempt) {
    temp = journal != nullptr ? journal->NextTemporary(to_dir) : RandomName(kTemporaryPrefix);
    error = S_ISREG(source.st_mode)
                ? CopyRegularFile(from_dir, in.get(), source, to_dir, temp, sync, pacer, copy_)
                : CopySymbolicLink(from_dir, from, source, to_dir, temp);
  }
  if (error != 0) return {error};
  if (copy_.st_ino == 0 && ::fstatat(to_dir, temp.c_str(), &copy_, AT_SYMLINK_NOFOLLOW) != 0) {
    error = errno;
    ::unlinkat(to_dir, temp.c_str(), 0);
    return {error};
  }
  temp_ = temp;
  return {};
}

Outcome CrossCopy::MakeInPlace(int from_dir, const std::string& from, int in, int to_dir,
                               const std::string& name, bool sync, Pacer& pacer,
                               RunJournal* journal) {
  // Named in the journal before it is made: what a kill leaves of it, the
  // next run removes (only while it holds nothing but the start of the
  // source, which is then still there). A name taken already is never
  // named so: the file under it (an empty one holds the start of any
  // source) is someone else's.
  struct stat taken;
  if (::fstatat(to_dir, name.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0) return {EEXIST};
  if (errno != ENOENT) return {errno};
  if (journal != nullptr) {
    journal->Writing(from_dir, to_dir, name);
    journal->WriteHeld();
    if (const int lost = journal->Lost()) return {lost};
  }
  copy_.st_ino = 0;
  const int error = S_ISREG(source_.st_mode)
                        ? CopyRegularFile(from_dir, in, source_, to_dir, name, sync, pacer, copy_)
                        : CopySymbolicLink(from_dir, from, source_, to_dir, name);
  if (error == EEXIST && journal != nullptr) {
    // Taken since it was looked at: what stands there is not this copy.
    journal->NameTaken(from_dir, to_dir, name);
    journal->WriteHeld();
  }
  if (error != 0) return {error};
  in_place_ = placed_ = true;
  if (copy_.st_ino == 0 && ::fstatat(to_dir, name.c_str(), &copy_, AT_SYMLINK_NOFOLLOW) != 0) {
    const int failed = errno;
    ::unlinkat(to_dir, name.c_str(), 0);
    in_place_ = placed_ = false;
    return {failed};
  }
  return {};
}

Outcome CrossCopy::Place(int to_dir, const std::string& name) {
  if (in_place_) return {};
  if (unnamed_.IsValid()) {
    // A link to the unnamed copy never replaces an existing name either.
    const std::string self = "/proc/self/fd/" + std::to_string(unnamed_.get());
    int error =
        ::linkat(AT_FDCWD, self.c_str(), to_dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
    if (error == ENOENT && ::linkat(unnamed_.get(), "", to_dir, name.c_str(), AT_EMPTY_PATH) == 0) {
      error = 0;
    }
    placed_ = error == 0;
    CloseUnnamed();
    return {error};
  }
  // A rename without replacing, or where the file system cannot do that, a
  // hard link: neither ever replaces an existing name.
  int error = 0;
  const bool lacks = KnownToLackNoReplaceRename(copy_.st_dev);
  if (lacks || ::renameat2(to_dir, temp_.c_str(), to_dir, name.c_str(), RENAME_NOREPLACE) != 0) {
    error = lacks ? EINVAL : errno;
    if (error == EINVAL || error == ENOSYS) {
      error = ::linkat(to_dir, temp_.c_str(), to_dir, name.c_str(), 0) == 0 ? 0 : errno;
    }
    ::unlinkat(to_dir, temp_.c_str(), 0);
  }
  temp_.clear();
  placed_ = error == 0;
  return {error};
}

Outcome CrossCopy::RemoveSource(int from_dir, const std::string& from, int to_dir,
                                const std::string& name, OwnChanges* own, RunJournal* journal,
                                const std::string& entry) {
  Outcome removed = RemoveSourceIfUnchanged(from_dir, from, source_, own, journal, to_dir, name,
                                            entry, std::exchange(taken_, {}), held_);
  // Someone else removed the source while its copy stood in place, durable:
  // the copy is all there is of the file now, and it stays.
  if (removed.error == ENOENT && removed.kept_as.empty()) removed = {};
  if (!removed.ok()) {
    Discard(to_dir, name);
    return removed;
  }
  placed_ = false;  // the copy is the file now
  return {};
}

void CrossCopy::RecordTakingAway(int from_dir, int to_dir, const std::string& name,
                                 const std::string& entry, RunJournal& journal) {
  taken_ = RandomName(kTakenPrefix);
  journal.TakingAway(from_dir, taken_, to_dir, name, entry);
}

void CrossCopy::CloseUnnamed() {
  if (!unnamed_.IsValid()) return;
  unnamed_.Reset();
  --unnamed_open;
}

void CrossCopy::Discard(int to_dir, const std::string& name) {
  CloseUnnamed();
  if (!temp_.empty()) ::unlinkat(to_dir, temp_.c_str(), 0);
  if (placed_) RemoveCopy(to_dir, name, copy_);
  temp_.clear();
  placed_ = in_place_ = false;
}

FileIdentity CrossCopy::PlacedIdentity() const {
  return {static_cast<std::uint64_t>(copy_.st_dev), static_cast<std::uint64_t>(copy_.st_ino)};
}

std::uint64_t CrossCopy::Size() const {
  return source_.st_size < 0 ? 0 : static_cast<std::uint64_t>(source_.st_size);
}

void AllowUnnamedCopies(bool allow) {
  unnamed_allowed = allow;
}

Outcome MoveAcrossFileSystems(int from_dir, const std::string& from, int to_dir,
                              const std::string& name, RunJournal* journal,
                              const std::string& entry) {
  if (from != name || entry.empty()) journal = nullptr;
  CrossCopy copy;
  if (const Outcome made = copy.Make(from_dir, from, to_dir, name, true, nullptr, journal);
      !made.ok()) {
    return made;
  }
  if (journal != nullptr) {
    journal->Placing(from_dir, to_dir, name, entry, copy.PlacedIdentity());
    if (const int lost = journal->Sync()) {
      copy.Discard(to_dir, name);
      return {lost};
    }
  }
  if (const Outcome placed = copy.Place(to_dir, name); !placed.ok()) return placed;
  if (::fsync(to_dir) != 0 && errno != EINVAL) {
    const int error = errno;
    copy.Discard(to_dir, name);
    return {error};
  }
  // Only now, with the copy in place and on disk, does the source go.
  const Outcome removed = copy.RemoveSource(from_dir, from, to_dir, name, nullptr, journal, entry);
  // The removal on the disk before the journal lets go of the move, and the
  // log's entry of it (begun before the move: a later run ends it).
  if (journal != nullptr && (::fsync(from_dir) == 0 || errno == EINVAL) && journal->SyncLog()) {
    journal->Clear();
  }
  return removed;
}

}  // namespace qor::platform
