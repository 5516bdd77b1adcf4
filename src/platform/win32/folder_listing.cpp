// Folder listings on Windows: FindFirstFileExW below a folder held open, so
// that it cannot be renamed or swapped for a link while it is listed.

#include "platform/files.h"
#include "platform/win32/listing.h"

namespace qor::platform {

Handle OpenFolder(const std::wstring& path, bool follow) {
  return Handle(::CreateFileW(
      path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
}

FileIdentity HandleIdentity(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info)) return {};
  return {info.dwVolumeSerialNumber,
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::wstring FinalPath(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return SystemPath(std::move(path));
    }
    path.resize(length + 1);
  }
}

void FolderListing::State::Open(std::wstring system_folder, bool follow) {
  if (system_folder.empty()) {
    error = ERROR_BAD_PATHNAME;
    return;
  }
  folder = WithBackslash(std::move(system_folder));
  folder_handle = OpenFolder(folder, follow);
  if (!folder_handle.IsValid()) {
    error = LastError();
    return;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(folder_handle.get(), &info)) {
    error = LastError();
    return;
  }
  // A link met inside the walk is never entered.
  const bool is_folder = follow ? (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                                : IsRealFolder(info.dwFileAttributes);
  if (!is_folder) {
    error = ERROR_DIRECTORY;
    return;
  }
  const std::wstring pattern = folder + L"*";
  search =
      SearchHandle(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                      FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!search.IsValid()) {
    // A drive's root holds no "." or "..": empty, yet listed.
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
      error = LastError();
      return;
    }
  } else {
    pending = true;
  }
  open = true;
}

FolderListing::FolderListing(const std::string& folder) : state_(std::make_unique<State>()) {
  // A folder typed by the user may itself be a link or junction; the walk
  // below it follows none.
  state_->Open(SystemPath(folder), true);
}

FolderListing::FolderListing(const FolderListing& parent, const std::string& name)
    : state_(std::make_unique<State>()) {
  if (!parent.state_->folder_handle.IsValid()) {
    state_->error = ERROR_INVALID_HANDLE;
    return;
  }
  state_->Open(parent.state_->folder + Widen(name), false);
}

FolderListing::~FolderListing() = default;

bool FolderListing::IsOpen() const {
  return state_->open;
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
  if (!search.IsValid()) return false;
  if (!pending) {
    if (!::FindNextFileW(search.get(), &data)) {
      const DWORD failed = ::GetLastError();
      if (failed != ERROR_NO_MORE_FILES) read_error = static_cast<int>(failed);
      search.Reset();
      return false;
    }
  }
  pending = false;

  entry.name = Narrow(data.cFileName);
  entry.is_folder = IsRealFolder(data.dwFileAttributes);
  entry.has_details = false;
  entry.year = entry.month = entry.day = 0;
  entry.size = 0;
  entry.identity = {};
  if (IsDots(data.cFileName)) {
    entry.is_folder = true;
    return true;
  }
  if (!IsWellFormedUtf16(data.cFileName)) {
    // Its name written back would lead elsewhere: it is neither entered nor
    // taken, and the run says that this folder was not fully examined.
    entry.is_folder = false;
    if (detail_error == 0) detail_error = ERROR_NO_UNICODE_TRANSLATION;
    return true;
  }
  if (entry.is_folder) return true;

  // The listing carries no file number, so the file is opened for it. Its
  // date and size are read there too: a listing may show them out of date
  // (a file written through another of its hard links). One that has
  // vanished since fails its move later; any other failure means this
  // folder's files could not be examined, and the run says so.
  const Handle file = OpenForAttributes(folder + data.cFileName, false);
  BY_HANDLE_FILE_INFORMATION info;
  if (!file.IsValid() || !::GetFileInformationByHandle(file.get(), &info)) {
    const int failed = LastError();
    if (failed != ERROR_FILE_NOT_FOUND && failed != ERROR_PATH_NOT_FOUND && detail_error == 0) {
      detail_error = failed;
    }
    return true;
  }
  // A date beyond what the system's calendar holds stays unknown, and the
  // file is never taken for another date.
  SYSTEMTIME written;
  if (!::FileTimeToSystemTime(&info.ftLastWriteTime, &written)) return true;
  entry.year = written.wYear;
  entry.month = written.wMonth;
  entry.day = written.wDay;
  entry.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  entry.identity = {info.dwVolumeSerialNumber,
                    (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  entry.has_details = true;
  return true;
}

bool FolderListing::Next(FolderEntry& entry) {
  State& state = *state_;
  if (state.from_memory) {
    if (state.next >= state.rest.size()) return false;
    entry = std::move(state.rest[state.next++]);
    return true;
  }
  if (!state.open) return false;
  return state.Read(entry);
}

void FolderListing::Park() {
  State& state = *state_;
  if (state.parked || !state.folder_handle.IsValid()) return;
  state.identity = HandleIdentity(state.folder_handle.get());
  if (!state.from_memory) {
    FolderEntry entry;
    while (state.Read(entry)) state.rest.push_back(std::move(entry));
    state.from_memory = true;
  }
  state.search.Reset();
  state.folder_handle.Reset();
  state.parked = true;
}

bool FolderListing::IsParked() const {
  return state_->parked;
}

bool FolderListing::Reopen(const FolderListing& child) {
  State& state = *state_;
  if (!state.parked) return state.folder_handle.IsValid();
  state.parked = false;
  // Windows has no ".." to open relative to a handle: the child's own path,
  // as the system sees it now, less its last name, leads to its parent.
  std::wstring parent;
  if (child.state_->folder_handle.IsValid()) {
    parent = FinalPath(child.state_->folder_handle.get());
    const std::size_t slash = parent.rfind(L'\\');
    parent = slash == std::wstring::npos ? std::wstring() : parent.substr(0, slash + 1);
  }
  if (!parent.empty()) {
    Handle handle = OpenFolder(parent, false);
    if (handle.IsValid() && HandleIdentity(handle.get()) == state.identity) {
      state.folder = std::move(parent);
      state.folder_handle = std::move(handle);
      return true;
    }
  }
  state.rest.clear();
  state.next = 0;
  state.read_error = ERROR_FILE_INVALID;  // the folder moved away meanwhile
  return false;
}

Outcome FolderListing::RemoveEmptySubfolder(const std::string& name) const {
  if (!state_->folder_handle.IsValid()) return {ERROR_INVALID_HANDLE};
  // Removed through a handle of its own, so that what goes is the real
  // folder looked at, never a link or junction put in its place.
  const std::wstring path = state_->folder + Widen(name);
  const Handle folder(
      ::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder.IsValid()) return {LastError()};
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(folder.get(), &info)) return {LastError()};
  if (!IsRealFolder(info.dwFileAttributes)) return {ERROR_DIRECTORY};
  // A folder that is not empty refuses this with ERROR_DIR_NOT_EMPTY.
  FILE_DISPOSITION_INFO dispose{TRUE};
  if (!::SetFileInformationByHandle(folder.get(), FileDispositionInfo, &dispose, sizeof dispose)) {
    return {LastError()};
  }
  return {};
}

}  // namespace qor::platform
