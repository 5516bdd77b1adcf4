// The next run's side of the journal: what a killed run left is finished,
// by what its journal says and by nothing else.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/journal_records.h"
#include "platform/posix/content_copy.h"
#include "platform/posix/fd.h"
#include "platform/posix/listing_state.h"
#include "platform/posix/run_journal.h"
#include "platform/temporary_names.h"

namespace qor::platform {

namespace {

Fd OpenFolder(const std::string& path) {
  return OpenRetrying([&] { return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
}

bool ReadAll(int fd, std::string& text) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

bool Exists(int dir, const std::string& name) {
  struct stat st;
  return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

void Finish(const std::vector<std::string>& record, Recovery& recovery) {
  if (record[0] == "T") {
    const Fd dir = OpenFolder(record[1]);
    struct stat st;
    if (dir.IsValid() && IsRandomName(record[2], kTemporaryPrefix) &&
        ::fstatat(dir.get(), record[2].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) {
      ::unlinkat(dir.get(), record[2].c_str(), 0);
    }
    return;
  }
  const Fd source = OpenFolder(record[1]);
  const Fd target = OpenFolder(record[3]);
  if (!source.IsValid() || !target.IsValid()) return;
  const std::string& from = record[2];
  const std::string& name = record[4];
  const std::string& entry = record[5];
  if (record[0] == "P") {
    // Placed, and the source still there: gone by now if it moved.
    if (!Exists(source.get(), from) || !Exists(target.get(), name)) return;
    if (SameAsCopied(source.get(), from, target.get(), name) &&
        ::unlinkat(source.get(), from.c_str(), 0) == 0) {
      recovery.entries.push_back(entry);
    } else {
      ++recovery.left;  // the source changed since: both stay
    }
    return;
  }
  // "K": the source was under its private name when the run died.
  const std::string& taken = record[6];
  if (!IsRandomName(taken, kTakenPrefix) || !Exists(source.get(), taken)) return;
  if (Exists(target.get(), name) && SameAsCopied(source.get(), taken, target.get(), name) &&
      ::unlinkat(source.get(), taken.c_str(), 0) == 0) {
    recovery.entries.push_back(entry);
    return;
  }
  if (::renameat2(source.get(), taken.c_str(), source.get(), from.c_str(), RENAME_NOREPLACE) != 0) {
    ++recovery.left;
  }
}

}  // namespace

Recovery RecoverKilledRuns(const std::string& root) {
  Recovery recovery;
  const Fd folder = OpenFolder(root);
  if (!folder.IsValid()) return recovery;
  std::vector<std::string> journals;
  {
    Fd listing(::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const Dir dir(listing.IsValid() ? ::fdopendir(listing.get()) : nullptr);
    if (dir == nullptr) return recovery;
    listing.Release();
    while (const struct dirent* d = ::readdir(dir.get())) {
      if (IsRandomName(d->d_name, kJournalPrefix)) journals.emplace_back(d->d_name);
      // A run killed while it made its journal left it empty and unlocked.
      if (IsRandomName(d->d_name, kNewJournalPrefix)) {
        const Fd made(::openat(folder.get(), d->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (made.IsValid() && ::flock(made.get(), LOCK_EX | LOCK_NB) == 0 &&
            ::fstat(made.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0) {
          ::unlinkat(folder.get(), d->d_name, 0);
        }
      }
    }
  }
  for (const std::string& name : journals) {
    const Fd journal(::openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    // Locked: a live run's, whatever its age.
    if (!journal.IsValid() || ::flock(journal.get(), LOCK_EX | LOCK_NB) != 0) continue;
    std::string text;
    if (!ReadAll(journal.get(), text)) continue;
    for (const auto& record : JournalRecords(text)) Finish(record, recovery);
    ::unlinkat(folder.get(), name.c_str(), 0);
  }
  return recovery;
}

}  // namespace qor::platform
