// Folder listings on Linux: entries with their details, read through the
// folder's own descriptor, and parked in memory when a walk goes deep.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <limits>
#include <system_error>
#include <thread>

#include "platform/files.h"
#include "platform/posix/civil_date.h"
#include "platform/posix/file_system_abilities.h"
#include "platform/posix/identity.h"
#include "platform/posix/listing_state.h"

namespace qor::platform {

namespace {

// Entries whose details are read ahead at once on a remote file system, and
// look-ups under way side by side. Few, as a detail read ahead is older by
// the moves of the entries before it when the walk comes to it.
constexpr std::size_t kReadAhead = 32;
constexpr std::size_t kLookUps = 8;

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

// Takes over an open folder descriptor (or the errno of its failed open).
void Adopt(FolderListing::State& state, Fd fd) {
  if (!fd.IsValid()) {
    state.error = errno;
    return;
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) {
    state.error = errno;
    return;
  }
  state.identity = IdentityFromStat(st);
  state.remote = IsRemote(fd.get());
  state.dir.reset(::fdopendir(fd.get()));
  if (state.dir == nullptr) {
    state.error = errno;
    return;
  }
  state.fd = fd.Release();  // the listing stream owns it now
}

bool IsDots(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

Fd OpenSubfolder(int at, const char* name) {
  return OpenRetrying(
      [&] { return ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
}

FolderListing::FolderListing(const std::string& folder) : state_(std::make_unique<State>()) {
  // A folder typed by the user may itself be a link to a folder; the walk
  // below it follows none.
  Adopt(*state_,
        OpenRetrying([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
}

FolderListing::FolderListing(const FolderListing& parent, const std::string& name)
    : state_(std::make_unique<State>()) {
  if (parent.state_->fd < 0) {
    state_->error = EBADF;
    return;
  }
  Adopt(*state_, OpenSubfolder(parent.state_->fd, name.c_str()));
}

FolderListing::~FolderListing() = default;

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

bool FolderListing::State::ReadName(FolderEntry& entry) {
  if (ended) return false;
  errno = 0;
  const struct dirent* d = ::readdir(dir.get());
  if (d == nullptr) {
    read_error = errno;
    ended = true;
    return false;
  }

  entry.name.assign(d->d_name);
  entry.has_details = false;
  entry.year = entry.month = entry.day = 0;
  entry.size = 0;
  entry.identity = {};

  // "." and ".." are passed over by every caller; they need no details.
  entry.is_folder = IsDots(d->d_name) || d->d_type == DT_DIR;
  return true;
}

bool FolderListing::State::Read(FolderEntry& entry) {
  if (!ReadName(entry)) return false;
  if (entry.is_folder) return true;
  struct stat st;
  Detail(entry, ::fstatat(fd, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno, st);
  return true;
}

void FolderListing::State::Detail(FolderEntry& entry, int error, const struct stat& st) {
  if (error != 0) {
    // Vanished since the listing was read: a move of it fails later. Any
    // other reason (a folder that may be listed but not entered) means its
    // files were not examined, and the run says so.
    if (error != ENOENT && detail_error == 0) detail_error = error;
    return;
  }
  entry.is_folder = S_ISDIR(st.st_mode);
  entry.has_details = true;
  if (!entry.is_folder) FillDetails(st, entry);
}

bool FolderListing::State::ReadAhead() {
  ahead.clear();
  ahead_next = 0;
  // The names first, as the system lists them; folders need no look-up.
  std::vector<std::size_t> due;
  for (FolderEntry entry; ahead.size() < kReadAhead && ReadName(entry);) {
    if (!entry.is_folder) due.push_back(ahead.size());
    ahead.push_back(std::move(entry));
  }
  // Then their details, side by side.
  std::vector<struct stat> found(due.size());
  std::vector<int> errors(due.size(), 0);
  std::atomic<std::size_t> next = 0;
  const auto look_up = [&] {
    for (std::size_t i; (i = next++) < due.size();) {
      if (::fstatat(fd, ahead[due[i]].name.c_str(), &found[i], AT_SYMLINK_NOFOLLOW) != 0) {
        errors[i] = errno;
      }
    }
  };
  std::vector<std::thread> helpers;
  helpers.reserve(kLookUps);
  for (std::size_t j = 1; j < std::min(due.size(), kLookUps); ++j) {
    try {
      helpers.emplace_back(look_up);
    } catch (const std::system_error&) {
      break;  // those there are will do
    }
  }
  look_up();
  for (std::thread& helper : helpers) helper.join();
  for (std::size_t i = 0; i < due.size(); ++i) Detail(ahead[due[i]], errors[i], found[i]);
  return !ahead.empty();
}

bool FolderListing::Next(FolderEntry& entry) {
  if (state_->from_memory) {
    if (state_->next >= state_->rest.size()) return false;
    entry = std::move(state_->rest[state_->next++]);
    return true;
  }
  if (state_->dir == nullptr) return false;
  if (!state_->remote) return state_->Read(entry);
  if (state_->ahead_next >= state_->ahead.size() && !state_->ReadAhead()) return false;
  entry = std::move(state_->ahead[state_->ahead_next++]);
  return true;
}

void FolderListing::Park() {
  State& state = *state_;
  if (state.parked || state.fd < 0) return;
  if (state.dir != nullptr) {
    for (; state.ahead_next < state.ahead.size(); ++state.ahead_next) {
      state.rest.push_back(std::move(state.ahead[state.ahead_next]));
    }
    state.ahead.clear();
    FolderEntry entry;
    while (state.Read(entry)) state.rest.push_back(std::move(entry));
    state.dir.reset();
    state.from_memory = true;
  }
  state.reopened.Reset();
  state.fd = -1;
  state.parked = true;
}

bool FolderListing::IsParked() const {
  return state_->parked;
}

bool FolderListing::Reopen(const FolderListing& child) {
  State& state = *state_;
  if (!state.parked) return state.fd >= 0;
  state.parked = false;
  Fd up;
  if (child.state_->fd >= 0) {
    up = OpenRetrying(
        [&] { return ::openat(child.state_->fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  }
  struct stat st;
  if (up.IsValid() && ::fstat(up.get(), &st) == 0 && IdentityFromStat(st) == state.identity) {
    state.fd = up.get();
    state.reopened = std::move(up);
    return true;
  }
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

}  // namespace qor::platform
