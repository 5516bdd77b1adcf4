// The run's target folder on Linux: the folders below it are made and
// entered one name at a time through descriptors, never through a link, and
// a way back up is taken only while it still leads to the folder come down
// from.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/files.h"
#include "platform/path_parts.h"
#include "platform/posix/cross_device_move.h"
#include "platform/posix/file_system_abilities.h"
#include "platform/posix/identity.h"
#include "platform/posix/listing_state.h"

namespace qor::platform {

void TargetFolder::State::BackToRoot() {
  leaf.Reset();
  names.clear();
  identities.clear();
}

bool TargetFolder::State::Up() {
  const FileIdentity expected =
      identities.size() >= 2 ? identities[identities.size() - 2] : root_identity;
  Fd up =
      OpenRetrying([&] { return ::openat(leaf.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  struct stat st;
  if (!up.IsValid() || ::fstat(up.get(), &st) != 0 || IdentityFromStat(st) != expected) {
    return false;
  }
  names.pop_back();
  identities.pop_back();
  leaf = names.empty() ? Fd() : std::move(up);
  return true;
}

Outcome TargetFolder::State::Down(const std::string& name) {
  // Only a name of this folder: "..", "." or a path would lead elsewhere.
  if (!IsPlainName(name, kSeparator)) return {EINVAL};
  const int at = Current();
  if (::mkdirat(at, name.c_str(), 0777) == 0) {
    // Held open until synced, a few at a time: a deep tree makes many.
    constexpr std::size_t kHeldAtMost = 64;
    if (made_in.size() >= kHeldAtMost) {
      if (const int error = SyncMadeFolders()) return {error};
    }
    made_in.emplace_back(::fcntl(at, F_DUPFD_CLOEXEC, 0));
  } else if (errno != EEXIST) {
    return {errno};
  }
  Fd fd = OpenSubfolder(at, name.c_str());
  if (!fd.IsValid()) {
    const int error = errno;
    struct stat st;
    if (::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      return {kLinkInTargetPath};
    }
    return {error};
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return {errno};
  leaf = std::move(fd);
  names.push_back(name);
  identities.push_back(IdentityFromStat(st));
  return {};
}

void TargetFolder::State::Changes(int dir, const FileIdentity& identity, bool gained) {
  for (Changed& known : changed) {
    if (known.whole && known.folder.device == identity.device) return;
    if (known.folder == identity) {
      (gained ? known.gained : known.lost) = true;
      return;
    }
  }
  const bool whole = !IsRemote(dir);
  constexpr std::size_t kHeldAtMost = 64;
  if (!whole && static_cast<std::size_t>(std::count_if(
                    changed.begin(), changed.end(), [](const Changed& c) { return !c.whole; })) >=
                    kHeldAtMost) {
    const int error = SyncChangedFolders();
    if (changed_error == 0) changed_error = error;
  }
  changed.push_back({identity, whole, gained, !gained, Fd(::fcntl(dir, F_DUPFD_CLOEXEC, 0))});
}

int TargetFolder::State::SyncChangedFolders() {
  int error = std::exchange(changed_error, 0);
  if (changed.empty()) return error;
  if (journal) {
    if (const int lost = journal->Sync(); error == 0) error = lost;
  }
  if (const int made = SyncMadeFolders(); error == 0) error = made;
  const auto sync = [&error](const Changed& folder) {
    if (!folder.fd.IsValid()) {
      if (error == 0) error = EBADF;
      return;
    }
    const int synced = folder.whole ? ::syncfs(folder.fd.get()) : ::fsync(folder.fd.get());
    // A folder the run removed since is gone with its names: its parent,
    // noted when it went, holds the change.
    if (synced != 0 && errno != EINVAL && errno != ENOENT && error == 0) error = errno;
  };
  // What a file went into, then what it left (one that did both, where the
  // target lies inside the source, with the latter).
  for (const Changed& folder : changed) {
    if (folder.whole || (folder.gained && !folder.lost)) sync(folder);
  }
  for (const Changed& folder : changed) {
    if (!folder.whole && folder.lost) sync(folder);
  }
  changed.clear();
  return error;
}

int TargetFolder::State::SyncMadeFolders() {
  // What the journal names first: a folder's sync makes the names of its
  // temporaries and copies on the way durable too.
  if (journal && !made_in.empty()) journal->Sync();
  int error = 0;
  for (const Fd& folder : made_in) {
    if (error == 0 && (!folder.IsValid() || (::fsync(folder.get()) != 0 && errno != EINVAL))) {
      error = folder.IsValid() ? errno : EBADF;
    }
  }
  made_in.clear();
  return error;
}

TargetFolder::TargetFolder(const std::string& root) : state_(std::make_unique<State>()) {
  state_->root_path = root;
}

TargetFolder::~TargetFolder() = default;

Outcome TargetFolder::Enter(const std::string& relative) {
  State& state = *state_;
  if (!state.root.IsValid()) {
    // Made here rather than at the start, as every folder below it is.
    if (const Outcome made = MakeSureFolderPathExists(state.root_path); !made.ok()) return made;
    Fd root = OpenRetrying(
        [&] { return ::open(state.root_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    struct stat st;
    if (!root.IsValid() || ::fstat(root.get(), &st) != 0) return {errno};
    state.root = std::move(root);
    state.root_identity = IdentityFromStat(st);
    if (RunJournal* journal = state.Journal()) journal->Start();
  }
  if (state.entered && relative == state.relative) return {};
  const std::vector<std::string> wanted = FolderNames(std::string_view(relative), kSeparator);
  if (state.entered && wanted == state.names) return {};

  std::size_t common = 0;
  if (state.entered) {
    while (common < wanted.size() && common < state.names.size() &&
           wanted[common] == state.names[common]) {
      ++common;
    }
  } else {
    state.BackToRoot();
  }
  state.entered = false;
  while (state.names.size() > common) {
    if (!state.Up()) {
      state.BackToRoot();  // moved meanwhile: the way down again is sure
      break;
    }
  }
  for (std::size_t i = state.names.size(); i < wanted.size(); ++i) {
    if (const Outcome down = state.Down(wanted[i]); !down.ok()) {
      state.BackToRoot();
      return down;
    }
  }
  state.entered = true;
  state.relative = relative;
  return {};
}

Outcome TargetFolder::MoveHere(const FolderListing& folder, const std::string& name,
                               const std::string& entry) {
  if (!state_->entered) return {EBADF};
  if (folder.state_->fd < 0) return {EBADF};
  if (const int error = state_->SyncMadeFolders()) return {error};
  const FileIdentity from = folder.state_->identity, to = state_->CurrentIdentity();
  // A move across file systems brings the log to the disk before its journal
  // lets go: the renames the log names before it go there first.
  if (from.device != to.device) {
    if (const int error = state_->SyncChangedFolders()) return {error};
  }
  const Outcome moved =
      MoveAt(folder.state_->fd, name, state_->Current(), name, nullptr, state_->Journal(), entry);
  if (moved.ok() && from.device == to.device) {
    state_->Changes(state_->Current(), to, true);
    state_->Changes(folder.state_->fd, from, false);
  }
  return moved;
}

Outcome TargetFolder::SyncMoves() {
  return {state_->SyncChangedFolders()};
}

void TargetFolder::KeepJournal(const std::string& source_root, std::function<LogMark()> log,
                               bool in_parent) {
  state_->source_root = source_root;
  state_->log_mark = std::move(log);
  state_->journal_in_parent = in_parent;
}

RunJournal* TargetFolder::State::Journal() {
  if (journal || source_root.empty() || !root.IsValid()) return journal.get();
  if (!journal_in_parent) {
    journal = std::make_unique<RunJournal>(root.get(), source_root, log_mark);
    return journal.get();
  }
  std::string name = root_path;
  while (name.size() > 1 && name.back() == kSeparator) name.pop_back();
  name = name.substr(name.rfind(kSeparator) + 1);
  parent =
      OpenRetrying([&] { return ::openat(root.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  journal = std::make_unique<RunJournal>(parent.IsValid() ? parent.get() : -1, source_root,
                                         log_mark, name + kSeparator);
  return journal.get();
}

std::string TargetFolder::JournalProblem() const {
  return state_->journal ? state_->journal->Problem() : std::string();
}

bool TargetFolder::IdentityOf(const std::string& name, FileIdentity& identity) const {
  struct stat st;
  if (!state_->entered || ::fstatat(state_->Current(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return false;
  identity = IdentityFromStat(st);
  return true;
}

namespace {

// Opens the folder `relative` below `root` for a dry run's look, without
// making, entering or following anything. Success with no folder when it is
// still to be made (every name there is free).
Outcome OpenProbed(const std::string& root, const std::string& relative, Fd& folder) {
  Fd at = OpenRetrying([&] { return ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (!at.IsValid()) return errno == ENOENT ? Outcome{} : Outcome{errno};
  for (const std::string& part : FolderNames(std::string_view(relative), kSeparator)) {
    if (!IsPlainName(part, kSeparator)) return {EINVAL};
    Fd down = OpenSubfolder(at.get(), part.c_str());
    if (down.IsValid()) {
      at = std::move(down);
      continue;
    }
    const int error = errno;
    struct stat st;
    if (::fstatat(at.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      // A folder still to be made holds no name yet.
      return errno == ENOENT ? Outcome{} : Outcome{errno};
    }
    return {S_ISLNK(st.st_mode) ? kLinkInTargetPath : error};
  }
  folder = std::move(at);
  return {};
}

// The names in `folder`, when it holds at most `most`; false otherwise.
bool ListNames(int folder, std::size_t most, std::unordered_set<std::string>& names) {
  const int fd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return false;
  DIR* listing = ::fdopendir(fd);
  if (listing == nullptr) {
    ::close(fd);
    return false;
  }
  ::rewinddir(listing);
  bool whole = true;
  errno = 0;
  while (const struct dirent* entry = ::readdir(listing)) {
    if (names.size() >= most) {
      whole = false;
      break;
    }
    names.emplace(entry->d_name);
  }
  whole = whole && errno == 0;
  ::closedir(listing);
  if (!whole) names.clear();
  return whole;
}

}  // namespace

Outcome TargetFolder::Probe(const std::string& relative, const std::string& name) const {
  State& state = *state_;
  if (!state.has_probed || state.probed_relative != relative) {
    // The next files mostly go into the same folder: it is opened once.
    state.probed.Reset();
    state.probed_outcome = OpenProbed(state.root_path, relative, state.probed);
    state.probed_relative = relative;
    state.has_probed = true;
    state.probed_names.clear();
    state.probed_listed = false;
    state.probed_looked = false;
  }
  if (!state.probed.IsValid()) return state.probed_outcome;
  if (state.probed_listed) {
    return state.probed_names.count(name) != 0 ? Outcome{EEXIST} : Outcome{};
  }
  struct stat st;
  if (::fstatat(state.probed.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return {EEXIST};
  const int error = errno;
  if (error != ENOENT) return {error};
  // A folder that can be searched: the next names are looked up in one
  // listing of it, where that is small.
  constexpr std::size_t kMostListed = 4096;
  if (!state.probed_looked) {
    state.probed_looked = true;
    state.probed_listed = ListNames(state.probed.get(), kMostListed, state.probed_names);
  }
  return {};
}

}  // namespace qor::platform
