#include "platform/posix/run_journal.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/journal_records.h"
#include "platform/posix/write_all.h"
#include "platform/temporary_names.h"

namespace qor::platform {

RunJournal::~RunJournal() {
  if (file_.IsValid()) ::unlinkat(root_, name_.c_str(), 0);
}

bool RunJournal::Ready() {
  if (file_.IsValid()) return true;
  if (failed_ || root_ < 0) return false;
  // Made and locked under a name no run looks for, then renamed: no other
  // run ever sees it unlocked and takes it for a killed run's.
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string making = RandomName(kNewJournalPrefix);
    Fd file(::openat(root_, making.c_str(),
                     O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_APPEND, 0600));
    if (!file.IsValid()) {
      if (errno == EEXIST) continue;
      break;
    }
    const std::string name = RandomName(kJournalPrefix);
    if (::flock(file.get(), LOCK_EX) != 0 ||
        ::renameat2(root_, making.c_str(), root_, name.c_str(), RENAME_NOREPLACE) != 0) {
      ::unlinkat(root_, making.c_str(), 0);
      continue;
    }
    file_ = std::move(file);
    name_ = name;
    return true;
  }
  failed_ = true;
  return false;
}

std::string RunJournal::FolderPath(int dir) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", dir);
  std::string path(4096, '\0');
  const ssize_t length = ::readlink(link, path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
  path.resize(static_cast<std::size_t>(length));
  return path;
}

void RunJournal::WriteLocked(std::string records) {
  // One write, so a kill leaves whole records only.
  records.insert(0, held_);
  held_.clear();
  if (records.empty() || !Ready()) return;
  if (WriteAll(file_.get(), records) != 0) failed_ = true;
}

std::string RunJournal::NextTemporary(int dir) {
  constexpr int kNamesAtOnce = 32;
  const std::string folder = FolderPath(dir);
  if (folder.empty()) return RandomName(kTemporaryPrefix);
  const std::lock_guard lock(mutex_);
  std::vector<std::string>& names = temporaries_[folder];
  if (names.empty()) {
    std::string records;
    for (int i = 0; i < kNamesAtOnce; ++i) {
      names.push_back(RandomName(kTemporaryPrefix));
      records += TemporaryRecord(folder, names.back());
    }
    WriteLocked(std::move(records));
  }
  std::string name = std::move(names.back());
  names.pop_back();
  return name;
}

void RunJournal::Placing(int from_dir, const std::string& from, int to_dir, const std::string& name,
                         const std::string& entry) {
  const std::string source = FolderPath(from_dir);
  const std::string target = FolderPath(to_dir);
  if (source.empty() || target.empty()) return;
  const std::lock_guard lock(mutex_);
  held_ += PlacingRecord(source, from, target, name, entry);
}

void RunJournal::TakingAway(int from_dir, const std::string& from, const std::string& taken,
                            int to_dir, const std::string& name, const std::string& entry) {
  const std::string source = FolderPath(from_dir);
  const std::string target = FolderPath(to_dir);
  if (source.empty() || target.empty()) return;
  const std::lock_guard lock(mutex_);
  held_ += TakingAwayRecord(source, from, target, name, entry, taken);
}

void RunJournal::WriteHeld() {
  const std::lock_guard lock(mutex_);
  WriteLocked({});
}

void RunJournal::Clear() {
  const std::lock_guard lock(mutex_);
  held_.clear();
  temporaries_.clear();  // no longer recorded
  if (file_.IsValid() && ::ftruncate(file_.get(), 0) != 0) failed_ = true;
}

void RunJournal::Sync() {
  const std::lock_guard lock(mutex_);
  WriteLocked({});
  if (file_.IsValid() && ::fdatasync(file_.get()) != 0) failed_ = true;
}

}  // namespace qor::platform
