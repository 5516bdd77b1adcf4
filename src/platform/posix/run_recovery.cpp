// The next run's side of the journal: what a killed run left is finished,
// by what its journal says and by nothing else, and only when the journal
// shows in every way that this program made it for this folder: anyone may
// drop a file of that name into a shared folder.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/files.h"
#include "platform/ini_location.h"
#include "platform/journal_key.h"
#include "platform/journal_records.h"
#include "platform/path_parts.h"
#include "platform/posix/content_copy.h"
#include "platform/posix/fd.h"
#include "platform/posix/file_system_abilities.h"
#include "platform/posix/identity.h"
#include "platform/posix/listing_state.h"
#include "platform/posix/run_journal.h"
#include "platform/posix/write_all.h"
#include "platform/recovery_logs.h"
#include "platform/temporary_names.h"

namespace qor::platform {

namespace {

Fd OpenFolder(const std::string& path) {
  return OpenRetrying([&] { return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
}

// The folder `relative` below the open folder `root`, one plain name at a
// time, never through a link.
Fd OpenBelow(int root, const std::string& relative) {
  Fd at(::fcntl(root, F_DUPFD_CLOEXEC, 0));
  std::size_t start = 0;
  while (at.IsValid() && start < relative.size()) {
    const std::size_t end = relative.find('/', start);
    at = OpenSubfolder(at.get(), relative.substr(start, end - start).c_str());
    start = end + 1;
  }
  return at;
}

// Reads at most `most` bytes; false when there were more, or a read failed.
bool ReadBounded(int fd, std::uint64_t most, std::string& text) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > most) return false;
  }
}

bool Stat(int dir, const std::string& name, struct stat& st) {
  return dir >= 0 && ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Why an open file named like a journal is not one this user's run made, or
// empty when it may be.
// `folder` holds it: where its file system keeps no modes of its own
// (rclone), the one mode it gives every file is no sign of a stranger.
std::string Stranger(const struct stat& st, int folder) {
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (st.st_uid != ::geteuid()) return "owned by another user";
  if ((st.st_mode & 07777) != 0600 && (!IsRemote(folder) || AbilitiesOf(folder).modes)) {
    return "readable or writable by others";
  }
  if (st.st_nlink != 1) return "it has further names";
  if (static_cast<std::uint64_t>(st.st_size) > kLargestJournal) return "larger than any journal";
  return {};
}

// The log `mark` names, opened with `flags`: at its path, or where a later
// run put it aside in the same folder, found by its number there (the
// folder names its disk: a restart may number the disk anew). To be
// written (cut), only where its disk's number is the recorded one too.
// Invalid when it is gone or is no plain file.
Fd OpenLog(const LogMark& mark, int flags) {
  if (mark.path.empty()) return Fd();
  const bool to_write = (flags & O_ACCMODE) != O_RDONLY;
  flags |= O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  const auto is_it = [&mark, to_write](const Fd& log) {
    struct stat st;
    return log.IsValid() && ::fstat(log.get(), &st) == 0 && S_ISREG(st.st_mode) &&
           (to_write ? IdentityFromStat(st) == mark.identity : IsFileHere(mark.identity, st));
  };
  Fd log(::open(mark.path.c_str(), flags));
  if (is_it(log)) return log;
  const std::size_t slash = mark.path.rfind('/');
  Fd folder(::open(slash == 0 ? "/" : mark.path.substr(0, slash).c_str(),
                   O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const Dir dir(folder.IsValid() ? ::fdopendir(folder.get()) : nullptr);
  if (dir == nullptr) return Fd();
  const int at = folder.Release();
  while (const struct dirent* d = ::readdir(dir.get())) {
    if (d->d_ino != mark.identity.inode) continue;
    log = Fd(::openat(at, d->d_name, flags));
    if (is_it(log)) return log;
  }
  return Fd();
}

}  // namespace

struct LogFile::State {
  Fd log;
};

LogFile::LogFile(const LogMark& mark, bool to_cut) : state_(std::make_unique<State>()) {
  Fd log = OpenLog(mark, to_cut ? O_RDWR : O_RDONLY);
  struct stat st;
  if (!log.IsValid() || (to_cut && ::flock(log.get(), LOCK_EX | LOCK_NB) != 0) ||
      ::fstat(log.get(), &st) != 0) {
    return;
  }
  state_->log = std::move(log);
  open_ = true;
  size_ = static_cast<std::uint64_t>(st.st_size);
}

LogFile::~LogFile() = default;

bool LogFile::Read(std::uint64_t from, std::uint64_t most, std::string& text) {
  const off_t at = static_cast<off_t>(from);
  return IsOpen() && ::lseek(state_->log.get(), at, SEEK_SET) == at &&
         ReadBounded(state_->log.get(), most, text);
}

bool LogFile::CutTo(std::uint64_t size) {
  return IsOpen() && ::ftruncate(state_->log.get(), static_cast<off_t>(size)) == 0 &&
         ::fsync(state_->log.get()) == 0;
}

namespace {

// One killed run's journal, read and checked; acted on by FinishItsMoves.
class KilledRun {
 public:
  KilledRun(RecoveryLog& log, Recovery& recovery, const JournalKey& key)
      : log_(log), recovery_(recovery), key_(key) {}

  // Checks the open journal `file`, locked, in the folder `holder`; false,
  // with why, when it is not this program's for that folder.
  bool Read(int file, const FileIdentity& holder, std::string& why);
  // Does what the journal leaves to do, and logs what no log records;
  // whether the journal may go.
  bool FinishItsMoves(int file);
  // Writes the whole records read into `file`, a fresh journal; false when
  // it cannot.
  bool CarryOver(int file) const {
    return WriteAll(file, std::string_view(text_).substr(0, journal_.whole)) == 0;
  }

 private:
  // Appends `record`, sealed as the next of the journal; 0 or the errno.
  int Append(int file, const std::string& record) {
    return WriteAll(file, SealRecords(key_, record, journal_.chain));
  }
  void RemoveTemporary(const JournalRecord& record);
  // A rename's record: whether it was made, its entry then due.
  bool Renamed(int file, const JournalRecord& record, int source, int target);
  // One move's last record; true when its file left its source.
  bool FinishMove(int file, const JournalRecord& record);
  // Takes the source `name` in `source` away to a private name before it is
  // compared and removed, the private name recorded first; false when
  // it stays under its name.
  bool TakeAway(int file, const JournalRecord& record, int source, std::string& taken);
  // The source under `taken` goes when `name` in `target` is its equal, a
  // different file; else back under its name. True when it went.
  bool RemoveOrPutBack(const JournalRecord& record, int source, const std::string& taken,
                       int target, bool& hidden);
  // A copy the journal names (`record`'s) that differs from its source
  // `original` in `source`: removed when it holds only a part of its start
  // (its bytes lost with the power) and is sure to be the copy the run made,
  // so that the next run moves the file afresh; else counted, and both stay.
  // A file that another put under the name first (an empty one holds the
  // start of any file) is never removed.
  void RemoveCutShort(const JournalRecord& record, int target, int source,
                      const std::string& original);
  // Whether the file `copy` under `record`'s name is the run's own copy: one
  // written under its own name where that name was free, or the one placed
  // there, by its identity where the file system keeps identities.
  bool MadeByTheRun(const JournalRecord& record, int target, const struct stat& copy) const;
  // The entries of files in flight at the kill that left their source: the
  // last entry a log the journal names had begun, where a move of one file
  // system needs no record of its own. `done` are the files the records
  // told of.
  std::vector<std::string> InFlight(int file, const std::set<std::string>& done);

  RecoveryLog& log_;
  Recovery& recovery_;
  const JournalKey& key_;
  std::string text_;
  JournalText journal_;
  Fd source_root_;
  Fd target_root_;
  // By source folder and name: the copies written under their own name,
  // and the identities of those put in place.
  std::set<std::pair<std::string, std::string>> written_in_place_;
  std::map<std::pair<std::string, std::string>, FileIdentity> placed_;
  bool keep_ = false;  // a source is left hidden: the journal stays with it
};

bool KilledRun::Read(int file, const FileIdentity& holder, std::string& why) {
  std::string& text = text_;
  if (!ReadBounded(file, kLargestJournal, text)) {
    why = "it cannot be read whole";
    return false;
  }
  if (!ReadJournal(text, '/', key_, journal_, why)) return false;
  if (journal_.source_root.empty()) return true;  // killed as it was made
  target_root_ = OpenFolder(journal_.target_root);
  source_root_ = OpenFolder(journal_.source_root);
  struct stat target, source;
  if (!target_root_.IsValid() || ::fstat(target_root_.get(), &target) != 0 ||
      IdentityFromStat(target) != holder) {
    why = kAnotherFolder;
    return false;
  }
  if (!source_root_.IsValid() || ::fstat(source_root_.get(), &source) != 0) {
    // A run that emptied its source folder and was asked to remove emptied
    // folders removes that one last: a kill before its journal went leaves
    // a journal that names nothing to finish, and a folder that is gone.
    if (errno == ENOENT && journal_.records.empty()) {
      journal_.source_root.clear();
      return true;
    }
    why = "its source folder cannot be opened (" + ErrorText(errno) + ")";
    return false;
  }
  if (IdentityFromStat(source) == holder) {
    why = "its source folder is the folder that holds it";
    return false;
  }
  for (const JournalRecord& record : journal_.records) {
    if (record.kind != 'T' && record.kind != 'U' && record.kind != 'W' && record.kind != 'X' &&
        !log_.IsEntryFor(record.entry, record.source + record.name,
                         journal_.target_root + journal_.below)) {
      why = "a move's log entry is not as the run writes it";
      return false;
    }
  }
  return true;
}

void KilledRun::RemoveTemporary(const JournalRecord& record) {
  const Fd dir = record.kind == 'T' ? OpenBelow(target_root_.get(), record.target)
                                    : OpenBelow(source_root_.get(), record.source);
  struct stat st;
  if (Stat(dir.get(), record.name, st) && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) {
    ::unlinkat(dir.get(), record.name.c_str(), 0);
  }
}

bool KilledRun::TakeAway(int file, const JournalRecord& record, int source, std::string& taken) {
  JournalRecord took = record;
  for (int attempt = 0; attempt < 16; ++attempt) {
    took.taken = RandomName(kTakenPrefix);
    if (Append(file, TakingAwayRecord(took.source, took.target, took.name, took.entry,
                                      took.taken)) != 0) {
      return false;
    }
    const int error = RenameToFreshName(source, record.name.c_str(), took.taken.c_str());
    if (error == 0) {
      taken = took.taken;
      return true;
    }
    if (error != EEXIST) return false;
  }
  return false;
}

bool KilledRun::RemoveOrPutBack(const JournalRecord& record, int source, const std::string& taken,
                                int target, bool& hidden) {
  struct stat original, copy;
  const bool copy_there = Stat(target, record.name, copy);
  if (copy_there && Stat(source, taken, original) &&
      IdentityFromStat(original) != IdentityFromStat(copy) &&
      SameAsCopied(source, taken, target, record.name) &&
      ::unlinkat(source, taken.c_str(), 0) == 0) {
    return true;
  }
  if (copy_there) RemoveCutShort(record, target, source, taken);
  if (RenameNoReplace(source, taken.c_str(), source, record.name.c_str()) != 0) {
    hidden = true;
    recovery_.hidden.push_back(journal_.source_root + record.source + taken);
    keep_ = true;
  }
  return false;
}

bool KilledRun::MadeByTheRun(const JournalRecord& record, int target,
                             const struct stat& copy) const {
  const std::pair<std::string, std::string> file{record.source, record.name};
  if (written_in_place_.count(file) != 0) return true;
  const auto placed = placed_.find(file);
  return placed != placed_.end() && placed->second.inode != 0 &&
         KnownAbilitiesOf(target).stable_identity && !IsRemote(target) &&
         placed->second == IdentityFromStat(copy);
}

void KilledRun::RemoveCutShort(const JournalRecord& record, int target, int source,
                               const std::string& original) {
  const std::string& name = record.name;
  struct stat copy, of;
  if (Stat(target, name, copy) && Stat(source, original, of) &&
      IdentityFromStat(copy) != IdentityFromStat(of) && copy.st_size < of.st_size &&
      MadeByTheRun(record, target, copy) && HoldsStartOf(target, name, source, original)) {
    ::unlinkat(target, name.c_str(), 0);
    return;
  }
  ++recovery_.left;  // the source changed since: both stay
}

bool KilledRun::Renamed(int file, const JournalRecord& record, int source, int target) {
  struct stat there, left;
  if (!Stat(target, record.name, there)) return false;  // never made, or undone since
  // A remote file system may number a file as it likes, and moves by a
  // link or a copy where it cannot rename without replacing.
  const bool remote = IsRemote(target);
  if (!Stat(source, record.name, left)) {
    return errno == ENOENT && (remote || IsFileHere(record.identity, there));
  }
  // Under both names, each numbered on its own: a move by a hard link and
  // the removal of the old name, killed between the two. Finished as a copy
  // in place is, once both are found equal.
  const JournalRecord linked{'P', record.source, record.target, record.name, record.entry, {}, {}};
  std::string taken;
  bool hidden = false;
  return remote && IdentityFromStat(there) != IdentityFromStat(left) &&
         SameAsCopied(source, record.name, target, record.name) &&
         TakeAway(file, linked, source, taken) &&
         RemoveOrPutBack(linked, source, taken, target, hidden);
}

bool KilledRun::FinishMove(int file, const JournalRecord& record) {
  const Fd source = OpenBelow(source_root_.get(), record.source);
  const Fd target = OpenBelow(target_root_.get(), record.target);
  if (record.kind == 'N') return Renamed(file, record, source.get(), target.get());
  struct stat st;
  const bool copy_there = Stat(target.get(), record.name, st);
  bool hidden = false;
  if (record.kind == 'X') return false;  // the file under its name is another's
  if (record.kind == 'W') {
    // A copy begun under its own name: it goes while it holds nothing but
    // the start of its source, which stays.
    if (copy_there && MadeByTheRun(record, target.get(), st) &&
        HoldsStartOf(target.get(), record.name, source.get(), record.name)) {
      ::unlinkat(target.get(), record.name.c_str(), 0);
    }
    return false;
  }
  if (record.kind == 'K' && Stat(source.get(), record.taken, st)) {
    return RemoveOrPutBack(record, source.get(), record.taken, target.get(), hidden);
  }
  struct stat copy;
  if (Stat(source.get(), record.name, st)) {
    // Still there: it goes only when its copy was placed, is another file
    // and is its equal.
    std::string taken;
    if (!copy_there || !Stat(target.get(), record.name, copy) ||
        IdentityFromStat(copy) == IdentityFromStat(st)) {
      return false;
    }
    // Compared before it is taken away too: a source unlike what stands at
    // its name (a name that was taken) never leaves its own name, also where
    // it could not get it back (rclone).
    if (!SameAsCopied(source.get(), record.name, target.get(), record.name)) {
      RemoveCutShort(record, target.get(), source.get(), record.name);
      return false;
    }
    if (!TakeAway(file, record, source.get(), taken)) return false;
    return RemoveOrPutBack(record, source.get(), taken, target.get(), hidden);
  }
  // Gone from its source while its copy stands in place: it moved.
  return copy_there;
}

std::vector<std::string> KilledRun::InFlight(int file, const std::set<std::string>& done) {
  std::vector<std::string> entries;
  std::set<std::string> seen;
  for (const LogMark& mark : journal_.logs) {
    std::string line, relative, entry;
    if (!CutLastLineOf(mark, line) ||
        !log_.BegunEntry(line, journal_.target_root + journal_.below, relative, entry) ||
        done.count(relative) != 0 || !seen.insert(relative).second) {
      continue;
    }
    const std::size_t slash = relative.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : relative.substr(0, slash + 1);
    const std::string name = relative.substr(folder.size());
    if (!IsRelativeFolder(folder, '/') || !IsPlainName(name, '/')) continue;
    // Gone from its source, its folder too maybe (removed once emptied),
    // and there at its new place.
    const Fd source = OpenBelow(source_root_.get(), folder);
    struct stat st;
    const bool gone =
        source.IsValid() ? !Stat(source.get(), name, st) && errno == ENOENT : errno == ENOENT;
    const Fd target = OpenBelow(target_root_.get(), journal_.below + folder);
    if (gone && Stat(target.get(), name, st)) entries.push_back(entry);
    // Where a file system moves a file by a hard link and the removal of
    // its old name (sshfs), a kill between the two leaves both names:
    // finished as a copy in place is, once both are found equal.
    const JournalRecord linked{'P', folder, journal_.below + folder, name, entry, {}, {}};
    std::string taken;
    bool hidden = false;
    if (!gone && source.IsValid() && Stat(target.get(), name, st) &&
        SameAsCopied(source.get(), name, target.get(), name) &&
        TakeAway(file, linked, source.get(), taken) &&
        RemoveOrPutBack(linked, source.get(), taken, target.get(), hidden)) {
      entries.push_back(entry);
    }
  }
  return entries;
}

bool KilledRun::FinishItsMoves(int file) {
  if (journal_.source_root.empty()) return true;
  // What a kill cut short is taken back, so that what this run appends
  // follows whole records.
  struct stat st;
  if (::fstat(file, &st) != 0) return false;
  if (static_cast<std::uint64_t>(st.st_size) > journal_.whole &&
      ::ftruncate(file, static_cast<off_t>(journal_.whole)) != 0) {
    return false;
  }
  // This run's log is named before anything is done, so that the entries it
  // writes are found by whoever finishes after a kill of this run.
  if (Append(file, LogRecord(log_.Mark())) != 0) return false;
  for (const JournalRecord& record : journal_.records) {
    if (record.kind == 'T' || record.kind == 'U') RemoveTemporary(record);
  }
  for (const JournalRecord& record : journal_.records) {
    const std::pair<std::string, std::string> file{record.source, record.name};
    if (record.kind == 'W') written_in_place_.insert(file);
    if (record.kind == 'X') written_in_place_.erase(file);
    if (record.kind == 'P') placed_[file] = record.identity;
  }
  // A move's last record tells how far it went.
  std::vector<std::string> moved;
  std::set<std::string> done;
  for (const std::size_t index : LastRecordOfEachMove(journal_.records)) {
    const JournalRecord& record = journal_.records[index];
    done.insert(record.source + record.name);
    if (FinishMove(file, record)) moved.push_back(record.entry);
  }
  for (std::string& entry : InFlight(file, done)) moved.push_back(std::move(entry));
  // Each move that left its source is logged once: where no log the journal
  // names holds its entry yet, this run's does.
  const std::unordered_set<std::string> logged = LoggedLines(journal_.logs);
  std::vector<std::string> entries;
  for (std::string& entry : moved) {
    if (logged.count(entry) == 0) entries.push_back(std::move(entry));
  }
  if (!entries.empty() && !log_.Write(entries)) return false;
  recovery_.logged += entries.size();
  if (keep_) return false;
  for (const LogMark& mark : journal_.logs) DropCutLastLine(mark);
  return true;
}

}  // namespace

namespace {

// The killed runs' journals in `folder` (shown as `shown`), those for the
// target folder `holder`: where `own` (this user's journal folder), the
// journals of runs into other folders are not this run's to finish, and
// stay without a word.
void RecoverIn(const Fd& folder, const std::string& shown, const FileIdentity& holder, bool own,
               RecoveryLog& log, Recovery& recovery) {
  struct stat st;
  std::vector<std::string> journals, making;
  {
    Fd listing(::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const Dir dir(listing.IsValid() ? ::fdopendir(listing.get()) : nullptr);
    if (dir == nullptr) return;
    listing.Release();
    while (const struct dirent* d = ::readdir(dir.get())) {
      if (IsRandomName(d->d_name, kJournalPrefix)) journals.emplace_back(d->d_name);
      if (IsRandomName(d->d_name, kNewJournalPrefix)) making.emplace_back(d->d_name);
    }
  }
  // Only a journal sealed with this user's key is this user's run's,
  // whatever owner and mode its file system shows.
  std::string no_key;
  const JournalKey* key = journals.empty() ? nullptr : UserJournalKey(no_key);
  for (const std::string& name : making) {
    // A run killed while it made its journal left it empty and unlocked.
    const Fd made(
        ::openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const std::string why = !made.IsValid()                 ? ErrorText(errno)
                            : ::fstat(made.get(), &st) != 0 ? ErrorText(errno)
                                                            : Stranger(st, folder.get());
    if (!why.empty()) {
      recovery.refused.push_back({shown + name, why});
    } else if (st.st_size == 0 && ::flock(made.get(), LOCK_EX | LOCK_NB) == 0) {
      ::unlinkat(folder.get(), name.c_str(), 0);
    }
  }
  // Where a file cannot be added to once closed (rclone without its cache),
  // a killed run's journal is carried over into a fresh one that this run
  // then adds to.
  const bool appends =
      journals.empty() || !IsRemote(folder.get()) || AbilitiesOf(folder.get()).appends;
  for (const std::string& name : journals) {
    // Without following a link or waiting on a pipe; appended to by this run.
    Fd journal(
        ::openat(folder.get(), name.c_str(),
                 (appends ? O_RDWR | O_APPEND : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    std::string why;
    if (!journal.IsValid()) {
      why = errno == ELOOP ? "a symbolic link" : ErrorText(errno);
    } else if (::fstat(journal.get(), &st) != 0) {
      why = ErrorText(errno);
    } else {
      why = Stranger(st, folder.get());
    }
    if (why.empty() && ::flock(journal.get(), LOCK_EX | LOCK_NB) != 0) continue;  // a live run's
    if (why.empty() && key == nullptr) why = "this user's journal key cannot be read: " + no_key;
    if (!why.empty()) {
      recovery.refused.push_back({shown + name, why});
      continue;
    }
    KilledRun run(log, recovery, *key);
    if (!run.Read(journal.get(), holder, why)) {
      if (!why.empty() && !(own && why == kAnotherFolder)) {
        recovery.refused.push_back({shown + name, why});
      }
      continue;
    }
    // Each journal is closed before it is removed: rclone without its cache
    // says a file held open is removed, and keeps it.
    if (appends) {
      const bool finished = run.FinishItsMoves(journal.get());
      journal.Reset();
      if (finished) ::unlinkat(folder.get(), name.c_str(), 0);
      continue;
    }
    std::string fresh, left_behind;
    Fd carried = MakeJournalFile(folder.get(), fresh, left_behind);
    // On the disk, name and records, before the journal it replaces goes.
    if (!carried.IsValid() || !run.CarryOver(carried.get()) ||
        (::fdatasync(carried.get()) != 0 && errno != EINVAL) ||
        (::fsync(folder.get()) != 0 && errno != EINVAL)) {
      carried.Reset();
      if (!fresh.empty()) ::unlinkat(folder.get(), fresh.c_str(), 0);
      continue;
    }
    journal.Reset();
    ::unlinkat(folder.get(), name.c_str(), 0);
    const bool finished = run.FinishItsMoves(carried.get());
    carried.Reset();  // closed before it is removed (rclone)
    if (finished) ::unlinkat(folder.get(), fresh.c_str(), 0);
  }
}

}  // namespace

Recovery RecoverKilledRuns(const std::string& root, RecoveryLog& log) {
  Recovery recovery;
  const Fd folder = OpenFolder(root);
  struct stat st;
  if (!folder.IsValid() || ::fstat(folder.get(), &st) != 0) return recovery;
  const FileIdentity holder = IdentityFromStat(st);
  RecoverIn(folder, root.ends_with('/') ? root : root + '/', holder, false, log, recovery);
  // And those a run into this folder kept in this user's own folder, as the
  // folder took none.
  std::string why;
  const Fd own = UserJournalFolder(why, false);
  if (own.IsValid() && ::fstat(own.get(), &st) == 0 && IdentityFromStat(st) != holder) {
    RecoverIn(own, UserStateFolder() + "/qor/journals/", holder, true, log, recovery);
  }
  return recovery;
}

}  // namespace qor::platform
