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

#include "platform/posix/civil_date.h"
#include "platform/posix/cross_device_move.h"

namespace qor::platform {

namespace {

int OpenFolderFd(int at, const char* name) {
  int fd;
  do {
    fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Fills date and size from a stat record.
void FillDetails(const struct stat& st, FolderEntry& entry) {
  const CivilDate date = CivilDateFromUnixSeconds(st.st_mtim.tv_sec);
  entry.year = date.year;
  entry.month = date.month;
  entry.day = date.day;
  entry.size = st.st_size < 0 ? 0 : static_cast<std::uint64_t>(st.st_size);
  entry.identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace

struct FolderListing::State {
  DIR* dir = nullptr;
  int error = 0;
  int read_error = 0;
};

namespace {

// Takes over an open folder descriptor (or the errno of its failed open).
void Adopt(FolderListing::State& state, int fd) {
  if (fd < 0) {
    state.error = errno;
    return;
  }
  state.dir = ::fdopendir(fd);
  if (state.dir == nullptr) {
    state.error = errno;
    ::close(fd);
  }
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
  if (!parent.IsOpen()) {
    state_->error = EBADF;
    return;
  }
  const int fd = OpenFolderFd(::dirfd(parent.state_->dir), name.c_str());
  Adopt(*state_, fd);
}

FolderListing::~FolderListing() {
  if (state_ && state_->dir != nullptr) ::closedir(state_->dir);
}

bool FolderListing::IsOpen() const {
  return state_->dir != nullptr;
}

int FolderListing::OpenError() const {
  return state_->error;
}

int FolderListing::ReadError() const {
  return state_->read_error;
}

bool FolderListing::Next(FolderEntry& entry) {
  if (state_->dir == nullptr) return false;
  errno = 0;
  const struct dirent* d = ::readdir(state_->dir);
  if (d == nullptr) {
    state_->read_error = errno;
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
  if (::fstatat(::dirfd(state_->dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return true;  // vanished since the listing was read: a move of it fails later
  }
  entry.is_folder = S_ISDIR(st.st_mode);
  entry.has_details = true;
  if (!entry.is_folder) FillDetails(st, entry);
  return true;
}

namespace {

// The move of `from`, a name in the folder `from_dir` (AT_FDCWD for a path),
// to the full name `to`.
Outcome MoveAt(int from_dir, const std::string& from, const std::string& to) {
  // Only files and links are moved: a folder put in a file's place since the
  // listing would go with everything in it, under one log entry.
  struct stat source;
  if (::fstatat(from_dir, from.c_str(), &source, AT_SYMLINK_NOFOLLOW) != 0) return {errno};
  if (S_ISDIR(source.st_mode)) return {EISDIR};
  if (::renameat2(from_dir, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
  const int error = errno;
  if (error == EXDEV) return MoveAcrossFileSystems(from_dir, from, to);
  if (error == EINVAL || error == ENOSYS) {
    // The file system cannot rename without replacing: a hard link refuses an
    // existing name just the same.
    if (::linkat(from_dir, from.c_str(), AT_FDCWD, to.c_str(), 0) != 0) {
      if (errno == EXDEV) return MoveAcrossFileSystems(from_dir, from, to);
      return {errno};
    }
    if (::unlinkat(from_dir, from.c_str(), 0) != 0) {
      const int unlink_error = errno;
      ::unlink(to.c_str());
      return {unlink_error};
    }
    return {};
  }
  return {error};
}

}  // namespace

Outcome MoveFileNoReplace(const std::string& from, const std::string& to) {
  return MoveAt(AT_FDCWD, from, to);
}

Outcome MoveEntryNoReplace(const FolderListing& folder, const std::string& name,
                           const std::string& to) {
  if (!folder.IsOpen()) return {EBADF};
  return MoveAt(::dirfd(folder.state_->dir), name, to);
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
