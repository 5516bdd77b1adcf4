// Linux implementation of the file-system layer.

#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <vector>

#include "platform/posix/civil_date.h"
#include "platform/posix/cross_device_move.h"
#include "platform/posix/listing_state.h"

namespace qor::platform {

namespace {

int OpenFolderFd(int at, const char* name) {
  int fd;
  do {
    fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

FileIdentity IdentityFromStat(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// Fills date and size from a stat record. A date beyond the years the
// program counts in stays unknown, so that it is never taken for another.
void FillDetails(const struct stat& st, FolderEntry& entry) {
  const CivilDate date = CivilDateFromUnixSeconds(st.st_mtim.tv_sec);
  if (date.year < std::numeric_limits<int>::min() || date.year > std::numeric_limits<int>::max()) {
    entry.has_details = false;
    return;
  }
  entry.year = static_cast<int>(date.year);
  entry.month = date.month;
  entry.day = date.day;
  entry.size = st.st_size < 0 ? 0 : static_cast<std::uint64_t>(st.st_size);
  entry.identity = IdentityFromStat(st);
}

}  // namespace

namespace {

// Takes over an open folder descriptor (or the errno of its failed open).
void Adopt(FolderListing::State& state, int fd) {
  if (fd < 0) {
    state.error = errno;
    return;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    state.error = errno;
    ::close(fd);
    return;
  }
  state.identity = IdentityFromStat(st);
  state.dir = ::fdopendir(fd);
  if (state.dir == nullptr) {
    state.error = errno;
    ::close(fd);
    return;
  }
  state.fd = fd;
}

}  // namespace

FolderListing::FolderListing(const std::string& folder) : state_(std::make_unique<State>()) {
  // A folder typed by the user may itself be a link to a folder; the walk
  // below it follows none.
  int fd;
  do {
    fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  Adopt(*state_, fd);
}

FolderListing::FolderListing(const FolderListing& parent, const std::string& name)
    : state_(std::make_unique<State>()) {
  if (parent.state_->fd < 0) {
    state_->error = EBADF;
    return;
  }
  const int fd = OpenFolderFd(parent.state_->fd, name.c_str());
  Adopt(*state_, fd);
}

FolderListing::~FolderListing() {
  if (!state_) return;
  if (state_->dir != nullptr) ::closedir(state_->dir);
  if (state_->own_fd && state_->fd >= 0) ::close(state_->fd);
}

bool FolderListing::IsOpen() const {
  return state_->error == 0;
}

int FolderListing::OpenError() const {
  return state_->error;
}

int FolderListing::ReadError() const {
  return state_->read_error;
}

int FolderListing::DetailError() const {
  return state_->detail_error;
}

bool FolderListing::State::Read(FolderEntry& entry) {
  errno = 0;
  const struct dirent* d = ::readdir(dir);
  if (d == nullptr) {
    read_error = errno;
    return false;
  }

  entry.name.assign(d->d_name);
  entry.is_folder = false;
  entry.has_details = false;
  entry.year = entry.month = entry.day = 0;
  entry.size = 0;
  entry.identity = {};

  // "." and ".." are passed over by every caller; they need no details.
  if (d->d_name[0] == '.' &&
      (d->d_name[1] == '\0' || (d->d_name[1] == '.' && d->d_name[2] == '\0'))) {
    entry.is_folder = true;
    return true;
  }
  if (d->d_type == DT_DIR) {
    entry.is_folder = true;
    return true;
  }
  struct stat st;
  if (::fstatat(fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    // Vanished since the listing was read: a move of it fails later. Any
    // other reason (a folder that may be listed but not entered) means its
    // files were not examined, and the run says so.
    if (errno != ENOENT && detail_error == 0) detail_error = errno;
    return true;
  }
  entry.is_folder = S_ISDIR(st.st_mode);
  entry.has_details = true;
  if (!entry.is_folder) FillDetails(st, entry);
  return true;
}

bool FolderListing::Next(FolderEntry& entry) {
  if (state_->from_memory) {
    if (state_->next >= state_->rest.size()) return false;
    entry = std::move(state_->rest[state_->next++]);
    return true;
  }
  if (state_->dir == nullptr) return false;
  return state_->Read(entry);
}

void FolderListing::Park() {
  State& state = *state_;
  if (state.parked || state.fd < 0) return;
  if (state.dir != nullptr) {
    FolderEntry entry;
    while (state.Read(entry)) state.rest.push_back(std::move(entry));
    ::closedir(state.dir);
    state.dir = nullptr;
    state.from_memory = true;
  } else if (state.own_fd) {
    ::close(state.fd);
  }
  state.fd = -1;
  state.own_fd = false;
  state.parked = true;
}

bool FolderListing::IsParked() const {
  return state_->parked;
}

bool FolderListing::Reopen(const FolderListing& child) {
  State& state = *state_;
  if (!state.parked) return state.fd >= 0;
  state.parked = false;
  const int fd = child.state_->fd < 0
                     ? -1
                     : ::openat(child.state_->fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && ::fstat(fd, &st) == 0 && IdentityFromStat(st) == state.identity) {
    state.fd = fd;
    state.own_fd = true;
    return true;
  }
  if (fd >= 0) ::close(fd);
  state.rest.clear();
  state.next = 0;
  state.read_error = ESTALE;
  return false;
}

Outcome FolderListing::RemoveEmptySubfolder(const std::string& name) const {
  if (state_->fd < 0) return {EBADF};
  if (::unlinkat(state_->fd, name.c_str(), AT_REMOVEDIR) != 0) return {errno};
  return {};
}

Outcome MoveAt(int from_dir, const std::string& from, int to_dir, const std::string& to,
               FileIdentity* placed) {
  // Only files and links are moved: a folder put in a file's place since the
  // listing would go with everything in it, under one log entry.
  struct stat source;
  if (::fstatat(from_dir, from.c_str(), &source, AT_SYMLINK_NOFOLLOW) != 0) return {errno};
  if (S_ISDIR(source.st_mode)) return {EISDIR};
  if (placed != nullptr) *placed = IdentityFromStat(source);
  if (::renameat2(from_dir, from.c_str(), to_dir, to.c_str(), RENAME_NOREPLACE) == 0) return {};
  const int error = errno;
  if (error == EXDEV) {
    const Outcome moved = MoveAcrossFileSystems(from_dir, from, to_dir, to);
    struct stat copy;
    if (moved.ok() && placed != nullptr &&
        ::fstatat(to_dir, to.c_str(), &copy, AT_SYMLINK_NOFOLLOW) == 0) {
      *placed = IdentityFromStat(copy);
    }
    return moved;
  }
  if (error == EINVAL || error == ENOSYS) {
    // The file system cannot rename without replacing: a hard link refuses an
    // existing name just the same.
    if (::linkat(from_dir, from.c_str(), to_dir, to.c_str(), 0) != 0) {
      if (errno == EXDEV) return MoveAcrossFileSystems(from_dir, from, to_dir, to);
      return {errno};
    }
    // The name goes only while it still names the file linked.
    struct stat linked, now;
    int unlink_error = 0;
    if (::fstatat(to_dir, to.c_str(), &linked, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fstatat(from_dir, from.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
      unlink_error = errno;
    } else if (IdentityFromStat(linked) != IdentityFromStat(now)) {
      unlink_error = kChangedDuringMove;
    } else if (::unlinkat(from_dir, from.c_str(), 0) != 0) {
      unlink_error = errno;
    }
    if (unlink_error != 0) ::unlinkat(to_dir, to.c_str(), 0);
    return {unlink_error};
  }
  return {error};
}

namespace {

// MoveAt for a full destination name: its folder is resolved as the system
// does for any path.
Outcome MoveToPath(int from_dir, const std::string& from, const std::string& to) {
  const std::size_t slash = to.rfind(kSeparator);
  const std::string folder =
      slash == std::string::npos ? std::string(".") : to.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? to : to.substr(slash + 1);
  if (name.empty()) return {EINVAL};
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return {errno};
  const Outcome moved = MoveAt(from_dir, from, dir, name, nullptr);
  ::close(dir);
  return moved;
}

}  // namespace

Outcome MoveFileNoReplace(const std::string& from, const std::string& to) {
  return MoveToPath(AT_FDCWD, from, to);
}

Outcome MoveEntryNoReplace(const FolderListing& folder, const std::string& name,
                           const std::string& to) {
  if (folder.state_->fd < 0) return {EBADF};
  return MoveToPath(folder.state_->fd, name, to);
}

// One level up through "..", if that is still the folder come down from.
void TargetFolder::State::BackToRoot() {
  if (leaf >= 0) ::close(leaf);
  leaf = -1;
  names.clear();
  identities.clear();
}

bool TargetFolder::State::Up() {
  const FileIdentity expected =
      identities.size() >= 2 ? identities[identities.size() - 2] : root_identity;
  const int up = ::openat(leaf, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat st;
  const bool same = up >= 0 && ::fstat(up, &st) == 0 && IdentityFromStat(st) == expected;
  if (!same) {
    if (up >= 0) ::close(up);
    return false;
  }
  ::close(leaf);
  names.pop_back();
  identities.pop_back();
  if (names.empty()) {
    ::close(up);
    leaf = -1;
  } else {
    leaf = up;
  }
  return true;
}

// One level down into `name`, made when missing; never through a link.
Outcome TargetFolder::State::Down(const std::string& name) {
  const int at = Current();
  if (::mkdirat(at, name.c_str(), 0777) != 0 && errno != EEXIST) return {errno};
  const int fd = OpenFolderFd(at, name.c_str());
  if (fd < 0) {
    const int error = errno;
    struct stat st;
    if (::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      return {kLinkInTargetPath};
    }
    return {error};
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    return {error};
  }
  if (leaf >= 0) ::close(leaf);
  leaf = fd;
  names.push_back(name);
  identities.push_back(IdentityFromStat(st));
  return {};
}

TargetFolder::TargetFolder(const std::string& root) : state_(std::make_unique<State>()) {
  ::clock_gettime(CLOCK_REALTIME_COARSE, &state_->started);
  state_->root_path = root;
}

TargetFolder::~TargetFolder() {
  state_->BackToRoot();
  if (state_->root >= 0) ::close(state_->root);
}

Outcome TargetFolder::Enter(const std::string& relative) {
  State& state = *state_;
  if (state.root < 0) {
    // Made here rather than at the start, as every folder below it is.
    if (const Outcome made = MakeSureFolderPathExists(state.root_path); !made.ok()) return made;
    state.root = ::open(state.root_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (state.root < 0 || ::fstat(state.root, &st) != 0) {
      const int error = errno;
      if (state.root >= 0) ::close(state.root);
      state.root = -1;
      return {error};
    }
    state.root_identity = IdentityFromStat(st);
  }
  if (state.entered && relative == state.relative) return {};
  std::vector<std::string> wanted;
  for (std::size_t start = 0; start < relative.size();) {
    std::size_t end = relative.find(kSeparator, start);
    if (end == std::string::npos) end = relative.size();
    if (end > start) wanted.push_back(relative.substr(start, end - start));
    start = end + 1;
  }
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
  RemoveStaleTemporaries(state.Current(), state.started);
  return {};
}

Outcome TargetFolder::MoveHere(const FolderListing& folder, const std::string& name) {
  if (!state_->entered) return {EBADF};
  if (folder.state_->fd < 0) return {EBADF};
  return MoveAt(folder.state_->fd, name, state_->Current(), name, nullptr);
}

bool TargetFolder::IdentityOf(const std::string& name, FileIdentity& identity) const {
  struct stat st;
  if (!state_->entered || ::fstatat(state_->Current(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return false;
  identity = IdentityFromStat(st);
  return true;
}

Outcome TargetFolder::Probe(const std::string& relative, const std::string& name) const {
  int at = ::open(state_->root_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (at < 0) return errno == ENOENT ? Outcome{} : Outcome{errno};
  Outcome result;
  std::size_t start = 0;
  for (; start < relative.size() && result.ok();) {
    std::size_t end = relative.find(kSeparator, start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    const int fd = OpenFolderFd(at, part.c_str());
    if (fd >= 0) {
      ::close(at);
      at = fd;
      continue;
    }
    const int error = errno;
    struct stat st;
    if (::fstatat(at, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      // A folder still to be made holds no name yet.
      ::close(at);
      return errno == ENOENT ? Outcome{} : Outcome{errno};
    }
    result = {S_ISLNK(st.st_mode) ? kLinkInTargetPath : error};
  }
  if (result.ok()) {
    struct stat st;
    if (::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      result = {EEXIST};
    } else if (errno != ENOENT) {
      result = {errno};
    }
  }
  ::close(at);
  return result;
}

Outcome MakeSureFolderPathExists(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? Outcome{} : Outcome{ENOTDIR};

  std::string partial;
  partial.reserve(path.size());
  std::size_t pos = 0;
  while (pos < path.size()) {
    std::size_t next = path.find(kSeparator, pos);
    if (next == std::string::npos) next = path.size();
    partial.assign(path, 0, next);
    pos = next + 1;
    if (partial.empty() || partial.back() == kSeparator) continue;
    if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return {errno};
  }
  if (::stat(path.c_str(), &st) != 0) return {errno};
  return S_ISDIR(st.st_mode) ? Outcome{} : Outcome{ENOTDIR};
}

bool IsFolderEmpty(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return false;
  bool empty = true;
  while (const struct dirent* d = ::readdir(dir)) {
    if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  ::closedir(dir);
  return empty;
}

Outcome RemoveFolder(const std::string& path) {
  if (::rmdir(path.c_str()) != 0) return {errno};
  return {};
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool EntryExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsWellFormedPath(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  std::string absolute = path;
  if (path.front() != kSeparator) {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr) return false;
    absolute = std::string(buffer) + kSeparator + path;
  }
  if (absolute.size() >= PATH_MAX) return false;
  std::size_t start = 0;
  while (start <= absolute.size()) {
    std::size_t end = absolute.find(kSeparator, start);
    if (end == std::string::npos) end = absolute.size();
    if (end - start > NAME_MAX) return false;
    start = end + 1;
  }
  return true;
}

std::string RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return {};
  std::string result(resolved);
  ::free(resolved);
  return result;
}

std::string ErrorText(int error) {
  if (const char* own = OwnErrorText(error)) return own;
  char buffer[256];
  // GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : std::string("error ") + std::to_string(error);
}

}  // namespace qor::platform
