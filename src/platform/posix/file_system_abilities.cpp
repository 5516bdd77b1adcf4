#include "platform/posix/file_system_abilities.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/posix/fd.h"
#include "platform/posix/run_journal.h"
#include "platform/temporary_names.h"

namespace qor::platform {

namespace {

std::string ProbeName(int dir, RunJournal* journal) {
  return journal != nullptr ? journal->NextTemporary(dir) : RandomName(kTemporaryPrefix);
}

// The probe itself; true where it cannot tell (a link refused, no room),
// which keeps the strict comparison of identities.
bool ProbeLinks(int dir, RunJournal* journal) {
  const std::string file = ProbeName(dir, journal);
  const std::string link = ProbeName(dir, journal);
  Fd made(::openat(dir, file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!made.IsValid()) return true;
  made.Reset();
  bool keeps = true;
  struct stat a, b;
  if (::linkat(dir, file.c_str(), dir, link.c_str(), 0) == 0) {
    keeps = ::fstatat(dir, file.c_str(), &a, AT_SYMLINK_NOFOLLOW) != 0 ||
            ::fstatat(dir, link.c_str(), &b, AT_SYMLINK_NOFOLLOW) != 0 || a.st_ino == b.st_ino;
    ::unlinkat(dir, link.c_str(), 0);
  }
  ::unlinkat(dir, file.c_str(), 0);
  return keeps;
}

}  // namespace

bool LinksKeepIdentity(int dir, RunJournal* journal) {
  static std::mutex mutex;
  static std::map<dev_t, bool> known;
  struct stat st;
  if (::fstat(dir, &st) != 0) return true;
  const std::lock_guard lock(mutex);
  const auto found = known.find(st.st_dev);
  if (found != known.end()) return found->second;
  return known[st.st_dev] = ProbeLinks(dir, journal);
}

}  // namespace qor::platform
