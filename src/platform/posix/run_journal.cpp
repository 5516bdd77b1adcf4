#include "platform/posix/run_journal.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/journal_key.h"
#include "platform/journal_records.h"
#include "platform/posix/file_system_abilities.h"
#include "platform/posix/identity.h"
#include "platform/posix/write_all.h"
#include "platform/temporary_names.h"

namespace qor::platform {

namespace {

// The path of an open folder now, ending with "/"; empty when it has none.
std::string FolderPath(int dir) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", dir);
  std::string path(4096, '\0');
  const ssize_t length = ::readlink(link, path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size() || path[0] != '/') return {};
  path.resize(static_cast<std::size_t>(length));
  if (path.back() != '/') path.push_back('/');
  return path;
}

// `path` below `root`, both ending with "/"; false when it lies elsewhere.
bool Below(const std::string& root, const std::string& path, std::string& relative) {
  if (root.empty() || !path.starts_with(root)) return false;
  relative = path.substr(root.size());
  return IsRelativeFolder(relative, '/');
}

}  // namespace

RunJournal::RunJournal(int root, const std::string& source_root, std::function<LogMark()> log,
                       std::string below)
    : root_(root), source_root_(source_root), below_(std::move(below)), log_(std::move(log)) {}

RunJournal::~RunJournal() {
  if (!file_.IsValid() || keep_) return;
  // Closed first: rclone without its cache says a file held open is removed
  // and keeps it. What a run that opens it meanwhile finds is the roots only,
  // nothing to act on.
  file_.Reset();
  ::unlinkat(Holder(), name_.c_str(), 0);
}

Fd MakeJournalFile(int root, std::string& name, std::string& left_behind) {
  // Made, locked and given its mode under a name no run looks for, then
  // renamed: no other run ever sees it unlocked and takes it for a killed
  // run's, nor with a mode a later run would refuse.
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string making = RandomName(kNewJournalPrefix);
    Fd file(::openat(root, making.c_str(),
                     O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_APPEND, 0600));
    if (!file.IsValid()) {
      if (errno == EEXIST) continue;
      return Fd();
    }
    name = RandomName(kJournalPrefix);
    int error = ::flock(file.get(), LOCK_EX) == 0 && ::fchmod(file.get(), 0600) == 0 ? 0 : errno;
    if (error == 0) error = RenameToFreshName(root, making.c_str(), name.c_str());
    if (error == 0) return file;
    file.Reset();  // closed first, as in the destructor
    if (::unlinkat(root, making.c_str(), 0) != 0) {
      // Never one more: the server keeps what it cannot remove.
      left_behind = making;
      errno = error;
      return Fd();
    }
    if (error != EEXIST) {
      errno = error;
      return Fd();
    }
  }
  errno = EEXIST;
  return Fd();
}

bool RunJournal::Make() {
  std::string name, left_behind;
  Fd file = MakeJournalFile(Holder(), name, left_behind);
  if (!left_behind.empty()) left_behind_ = target_root_ + left_behind;
  if (!file.IsValid() && !own_folder_.IsValid() &&
      (errno == EACCES || errno == EPERM || errno == EROFS)) {
    // A target folder that takes no file of ours (its subfolders may take
    // the moved files): the journal goes into this user's own folder for
    // them, where a later run into this target looks too.
    const int refused = errno;
    std::string why;
    own_folder_ = UserJournalFolder(why);
    if (!own_folder_.IsValid()) {
      errno = refused;
      return false;
    }
    file = MakeJournalFile(own_folder_.get(), name, left_behind);
  }
  if (!file.IsValid()) return false;
  file_ = std::move(file);
  name_ = name;
  return true;
}

bool RunJournal::Ready() {
  if (file_.IsValid() && !failed_) return true;
  if (failed_) return false;
  if (root_ < 0) {
    Fail("the folder that holds the target folder cannot be opened", 0);
    return false;
  }
  target_root_ = FolderPath(root_);
  std::string source = RealPath(source_root_);
  if (!source.empty() && source.back() != '/') source.push_back('/');
  if (target_root_.empty() || source.empty()) {
    Fail("the folders' paths cannot be known", 0);
    return false;
  }
  source_root_ = source;
  std::string no_key;
  key_ = UserJournalKey(no_key);
  if (key_ == nullptr) {
    Fail("this user's journal key cannot be read or made: " + no_key, 0);
    return false;
  }
  if (!Make()) {
    const int error = errno;
    Fail("it cannot be made in " + target_root_, error);
    if (!left_behind_.empty()) problem_ += "; " + left_behind_ + " could not be removed";
    return false;
  }
  std::string chain;
  const std::string roots =
      SealRecords(*key_, RootsRecord(source_root_, target_root_, below_), chain);
  if (const int error = WriteAll(file_.get(), roots)) {
    Fail("it cannot be written", error);
    return false;
  }
  whole_ = static_cast<off_t>(roots.size());
  header_ = whole_;
  chain_ = header_chain_ = chain;
  // Its name on the disk too, before anything it will name is done.
  if (::fsync(Holder()) != 0 && errno != EINVAL) {
    Fail("its name cannot be brought to the disk", errno);
    return false;
  }
  kept_ = true;
  Reserve();
  return true;
}

void RunJournal::Reserve() {
  // Where the system cannot set room aside (a share, for one), the records
  // take their chances, and a journal lost stops the copies (Lost).
  static_cast<void>(::fallocate(file_.get(), FALLOC_FL_KEEP_SIZE, 0, whole_ + kJournalRoom));
}

void RunJournal::Fail(const std::string& why, int error) {
  failed_ = true;
  if (problem_.empty()) problem_ = why + (error != 0 ? " (" + ErrorText(error) + ")" : "");

  // A record written in part is taken back: a later run reads whole ones.
  // Should that fail too, nothing more is written after it, and a later run
  // drops the last record as cut short.
  if (file_.IsValid() && ::ftruncate(file_.get(), whole_) != 0) {
    problem_ += "; a record cut short stays at its end";
  }
}

void RunJournal::Lose(const std::string& why, int error) {
  Fail(why, error);
  if (kept_ && lost_ == 0) {
    lost_ = error != 0 ? error : EIO;
    problem_ += "; no file was moved to another file system after that";
  }
}

void RunJournal::Stop(const std::string& why, int error) {
  const std::lock_guard lock(mutex_);
  Fail(why, error);
}

std::string RunJournal::Problem() {
  const std::lock_guard lock(mutex_);
  return problem_;
}

bool RunJournal::TargetFolderOf(int dir, std::string& folder) {
  return Below(target_root_, FolderPath(dir), folder);
}

bool RunJournal::SourceFolderOf(int dir, std::string& folder) {
  return Below(source_root_, FolderPath(dir), folder);
}

void RunJournal::WriteLocked(std::string records) {
  // One write, so a kill leaves whole records only.
  records.insert(0, held_);
  held_.clear();
  held_from_ = held_to_ = -1;
  if (records.empty() || !Ready()) return;
  if (mark_due_ && log_) {
    records.insert(0, LogRecord(log_()));
    mark_due_ = false;
  }
  std::string chain = chain_;
  records = SealRecords(*key_, records, chain);
  if (static_cast<std::uint64_t>(whole_) + records.size() > kLargestJournal) {
    // Lost, not merely given up: the moves these records name must not go
    // on without them.
    Lose("a batch's records would make it larger than a journal may be", EFBIG);
    return;
  }
  if (const int error = WriteAll(file_.get(), records)) {
    Lose("it cannot be written", error);
    return;
  }
  whole_ += static_cast<off_t>(records.size());
  chain_ = std::move(chain);
}

void RunJournal::Start() {
  const std::lock_guard lock(mutex_);
  if (!Ready() || !log_) return;
  mark_due_ = false;
  WriteLocked(LogRecord(log_()));
  // Kept through every batch: the log stays named while no batch is open.
  if (!failed_) {
    header_ = whole_;
    header_chain_ = chain_;
  }
}

std::string RunJournal::NextTemporary(int dir) {
  constexpr int kNamesAtOnce = 32;
  const std::lock_guard lock(mutex_);
  std::string folder;
  if (!Ready()) return RandomName(kTemporaryPrefix);
  const bool below_target = TargetFolderOf(dir, folder);
  if (!below_target && !SourceFolderOf(dir, folder)) return RandomName(kTemporaryPrefix);
  std::vector<std::string>& names = temporaries_[(below_target ? "T" : "U") + folder];
  if (names.empty()) {
    std::string records;
    for (int i = 0; i < kNamesAtOnce; ++i) {
      names.push_back(RandomName(kTemporaryPrefix));
      records += below_target ? TemporaryRecord(folder, names.back())
                              : SourceTemporaryRecord(folder, names.back());
    }
    WriteLocked(std::move(records));
  }
  std::string name = std::move(names.back());
  names.pop_back();
  return name;
}

bool RunJournal::FoldersOf(int from_dir, int to_dir, std::string& source, std::string& target) {
  if (!Ready()) return false;
  if (!SourceFolderOf(from_dir, source) || !TargetFolderOf(to_dir, target)) {
    Fail("a folder of the run no longer lies where it began", 0);
    return false;
  }
  return true;
}

void RunJournal::Placing(int from_dir, int to_dir, const std::string& name,
                         const std::string& entry, const FileIdentity& copy) {
  const std::lock_guard lock(mutex_);
  std::string source, target;
  if (FoldersOf(from_dir, to_dir, source, target)) {
    held_ += PlacingRecord(source, target, name, entry, copy);
  }
}

void RunJournal::TakingAway(int from_dir, const std::string& taken, int to_dir,
                            const std::string& name, const std::string& entry) {
  const std::lock_guard lock(mutex_);
  std::string source, target;
  if (FoldersOf(from_dir, to_dir, source, target)) {
    held_ += TakingAwayRecord(source, target, name, entry, taken);
  }
}

void RunJournal::Writing(int from_dir, int to_dir, const std::string& name) {
  const std::lock_guard lock(mutex_);
  std::string source, target;
  if (FoldersOf(from_dir, to_dir, source, target)) held_ += WritingRecord(source, target, name);
}

void RunJournal::NameTaken(int from_dir, int to_dir, const std::string& name) {
  const std::lock_guard lock(mutex_);
  std::string source, target;
  if (FoldersOf(from_dir, to_dir, source, target)) held_ += NameTakenRecord(source, target, name);
}

bool RunJournal::SyncLog() {
  const std::lock_guard lock(mutex_);
  if (!log_) return true;
  const LogMark mark = log_();
  if (mark.path.empty()) return true;  // no log that could be named
  const Fd log(::open(mark.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!log.IsValid() || ::fstat(log.get(), &st) != 0 || IdentityFromStat(st) != mark.identity ||
      (::fsync(log.get()) != 0 && errno != EINVAL)) {
    return false;
  }
  if (log_name_synced_ || !S_ISREG(st.st_mode)) return true;
  log_name_synced_ = SyncFolderOf(mark.path) == 0;
  return log_name_synced_;
}

void RunJournal::Renaming(int from_dir, int to_dir, const std::string& name,
                          const std::string& entry, const FileIdentity& identity) {
  const std::lock_guard lock(mutex_);
  if (from_dir != held_from_ || to_dir != held_to_) {
    if (!FoldersOf(from_dir, to_dir, held_source_, held_target_)) return;
    held_from_ = from_dir;
    held_to_ = to_dir;
  }
  held_ += RenamingRecord(held_source_, held_target_, name, entry, identity);
  renames_unsettled_ = true;
}

bool RunJournal::WriteHeld() {
  const std::lock_guard lock(mutex_);
  WriteLocked({});
  return Writable();
}

void RunJournal::RenamesSettled() {
  const std::lock_guard lock(mutex_);
  renames_unsettled_ = false;
}

bool RunJournal::RenamesLarge() {
  // Settling costs a sync of the file system, the log and this journal:
  // once at the run's end, or per a hundred thousand files and more (half
  // of what a journal may hold).
  constexpr off_t kRenamesSettleAt = static_cast<off_t>(kLargestJournal / 2);
  const std::lock_guard lock(mutex_);
  return renames_unsettled_ && whole_ - header_ >= kRenamesSettleAt;
}

void RunJournal::Keep() {
  const std::lock_guard lock(mutex_);
  keep_ = true;
}

void RunJournal::Clear() {
  const std::lock_guard lock(mutex_);
  if (renames_unsettled_ || keep_) return;
  held_.clear();
  held_from_ = held_to_ = -1;
  temporaries_.clear();  // no longer recorded
  mark_due_ = true;
  if (!file_.IsValid() || failed_) return;
  if (::ftruncate(file_.get(), header_) == 0) {
    whole_ = header_;
    chain_ = header_chain_;
    Reserve();  // cutting it short gave back its room
    return;
  }
  const int error = errno;
  if (AbilitiesOf(Holder()).truncate) {
    Fail("it cannot be emptied", error);
  } else {
    Renew();  // rclone without its cache, for one
  }
}

void RunJournal::Renew() {
  Fd old = std::move(file_);
  const std::string old_name = name_;
  std::string header = RootsRecord(source_root_, target_root_, below_);
  if (log_) header += LogRecord(log_());
  std::string chain;
  header = SealRecords(*key_, header, chain);
  if (!Make()) {
    file_ = std::move(old);
    Fail("it can neither be emptied nor made afresh in " + target_root_, errno);
    return;
  }
  if (const int error = WriteAll(file_.get(), header)) {
    // The old one stays the journal; the new one, named like a journal but
    // holding a part of a record, goes.
    file_.Reset();
    ::unlinkat(Holder(), name_.c_str(), 0);
    file_ = std::move(old);
    name_ = old_name;
    Fail("it cannot be made afresh", error);
    return;
  }
  whole_ = header_ = static_cast<off_t>(header.size());
  chain_ = header_chain_ = std::move(chain);
  mark_due_ = false;
  if ((::fdatasync(file_.get()) != 0 && errno != EINVAL) ||
      (::fsync(Holder()) != 0 && errno != EINVAL)) {
    Fail("it cannot be brought to the disk afresh", errno);
  }
  // Closed before it is removed (see the destructor).
  old.Reset();
  ::unlinkat(Holder(), old_name.c_str(), 0);
}

int RunJournal::Sync() {
  const std::lock_guard lock(mutex_);
  WriteLocked({});
  if (file_.IsValid() && !failed_ && ::fdatasync(file_.get()) != 0) {
    Lose("it cannot be brought to the disk", errno);
  }
  return lost_;
}

int RunJournal::Lost() {
  const std::lock_guard lock(mutex_);
  return lost_;
}

}  // namespace qor::platform
