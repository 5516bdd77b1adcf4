// Windows implementation of the file-system layer, over the wide-character
// API with "\\?\" paths, so that no path is too long.

#include "platform/files.h"

#include <string_view>

#include "platform/win32/cross_volume_move.h"
#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

// ERROR_DIRECTORY_NOT_SUPPORTED, which mingw-w64's headers do not name yet.
constexpr int kIsAFolder = 336;

bool IsDots(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// A real folder: a junction or a link to a folder is an entry of its own.
bool IsRealFolder(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

std::wstring WithBackslash(std::wstring path) {
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path;
}

FileIdentity IdentityOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info)) return {};
  return {info.dwVolumeSerialNumber,
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// The attributes of what `path` leads to, links followed; INVALID_FILE_ATTRIBUTES
// when nothing is there.
DWORD FollowedAttributes(const std::string& path) {
  const std::wstring system_path = SystemPath(path);
  if (system_path.empty()) return INVALID_FILE_ATTRIBUTES;
  const DWORD attributes = ::GetFileAttributesW(system_path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return attributes;
  }
  const Handle target = OpenForAttributes(system_path, true);
  BY_HANDLE_FILE_INFORMATION info;
  if (!target.IsValid() || !::GetFileInformationByHandle(target.get(), &info)) {
    return INVALID_FILE_ATTRIBUTES;
  }
  return info.dwFileAttributes;
}

}  // namespace

struct FolderListing::State {
  // The folder, "\\?\" form, ending with "\".
  std::wstring folder;
  // Held open without delete sharing, so the folder can be neither renamed
  // nor replaced by a link while it is listed.
  Handle folder_handle;
  HANDLE find = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW data{};
  bool pending = false;  // `data` holds an entry not yet delivered
  bool open = false;
  int error = 0;
  int read_error = 0;

  ~State() {
    if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
  }

  void Open(std::wstring system_folder, bool follow) {
    if (system_folder.empty()) {
      error = ERROR_BAD_PATHNAME;
      return;
    }
    folder = WithBackslash(std::move(system_folder));
    folder_handle = Handle(::CreateFileW(
        folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
        nullptr));
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
    find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                              nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
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
};

FolderListing::FolderListing(const std::string& folder) : state_(std::make_unique<State>()) {
  // A folder typed by the user may itself be a link or junction; the walk
  // below it follows none.
  state_->Open(SystemPath(folder), true);
}

FolderListing::FolderListing(const FolderListing& parent, const std::string& name)
    : state_(std::make_unique<State>()) {
  if (!parent.IsOpen()) {
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

bool FolderListing::Next(FolderEntry& entry) {
  State& state = *state_;
  if (!state.open || state.find == INVALID_HANDLE_VALUE) return false;
  if (!state.pending) {
    if (!::FindNextFileW(state.find, &state.data)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_NO_MORE_FILES) state.read_error = static_cast<int>(error);
      return false;
    }
  }
  state.pending = false;
  const WIN32_FIND_DATAW& data = state.data;

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
  if (entry.is_folder) return true;

  SYSTEMTIME written;
  if (!::FileTimeToSystemTime(&data.ftLastWriteTime, &written)) return true;
  entry.year = written.wYear;
  entry.month = written.wMonth;
  entry.day = written.wDay;
  entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  // The listing carries no file number; a file that cannot be opened even for
  // its attributes has vanished, and its move fails later.
  const Handle file = OpenForAttributes(state.folder + data.cFileName, false);
  if (!file.IsValid()) return true;
  entry.identity = IdentityOf(file.get());
  entry.has_details = true;
  return true;
}

namespace {

Outcome MoveSystemPaths(const std::wstring& from, const std::wstring& to) {
  if (from.empty() || to.empty()) return {ERROR_BAD_PATHNAME};
  // Only files and links are moved: a folder put in a file's place since the
  // listing would go with everything in it, under one log entry.
  const DWORD attributes = ::GetFileAttributesW(from.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {LastError()};
  if (IsRealFolder(attributes)) return {kIsAFolder};
  // Without MOVEFILE_REPLACE_EXISTING an existing name is never replaced.
  if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return {};
  const int error = LastError();
  if (error == ERROR_NOT_SAME_DEVICE) return MoveAcrossVolumes(from, to);
  return {error};
}

}  // namespace

Outcome MoveFileNoReplace(const std::string& from, const std::string& to) {
  return MoveSystemPaths(SystemPath(from), SystemPath(to));
}

Outcome MoveEntryNoReplace(const FolderListing& folder, const std::string& name,
                           const std::string& to) {
  if (!folder.IsOpen()) return {ERROR_INVALID_HANDLE};
  // The listed folder is held open against renaming, so its path still leads
  // to it.
  return MoveSystemPaths(folder.state_->folder + Widen(name), SystemPath(to));
}

namespace {

// The length of the root of a "\\?\" path: "\\?\C:\" or "\\?\UNC\server\share\".
std::size_t RootLength(std::wstring_view path) {
  if (path.starts_with(LR"(\\?\UNC\)")) {
    std::size_t end = path.find(L'\\', 8);                                // after the server
    if (end != std::wstring_view::npos) end = path.find(L'\\', end + 1);  // after the share
    return end == std::wstring_view::npos ? path.size() : end + 1;
  }
  const std::size_t end = path.find(L'\\', 4);
  return end == std::wstring_view::npos ? path.size() : end + 1;
}

}  // namespace

Outcome MakeSureFolderPathExists(const std::string& path) {
  const std::wstring full = SystemPath(path);
  if (full.empty()) return {ERROR_BAD_PATHNAME};
  std::size_t pos = RootLength(full);
  while (pos < full.size()) {
    std::size_t next = full.find(L'\\', pos);
    if (next == std::wstring::npos) next = full.size();
    const std::wstring partial = full.substr(0, next);
    pos = next + 1;
    if (::CreateDirectoryW(partial.c_str(), nullptr)) continue;
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) return {LastError()};
  }
  const DWORD attributes = FollowedAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return {LastError()};
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? Outcome{} : Outcome{ERROR_DIRECTORY};
}

bool IsFolderEmpty(const std::string& path) {
  const std::wstring folder = SystemPath(path);
  if (folder.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  WIN32_FIND_DATAW data;
  const std::wstring pattern = WithBackslash(folder) + L"*";
  const HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  bool empty = true;
  do {
    if (!IsDots(data.cFileName)) {
      empty = false;
      break;
    }
  } while (::FindNextFileW(find, &data));
  ::FindClose(find);
  return empty;
}

Outcome RemoveFolder(const std::string& path) {
  const std::wstring folder = SystemPath(path);
  if (folder.empty()) return {ERROR_BAD_PATHNAME};
  if (!::RemoveDirectoryW(folder.c_str())) return {LastError()};
  return {};
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = FollowedAttributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string& path) {
  return FollowedAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsWellFormedPath(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  const std::wstring full = SystemPath(path);
  // The longest path the wide-character API takes, and NTFS's longest name.
  constexpr std::size_t kMaxPath = 32767;
  constexpr std::size_t kMaxName = 255;
  if (full.empty() || full.size() >= kMaxPath) return false;
  const std::wstring_view rest = std::wstring_view(full).substr(RootLength(full));
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = rest.find(L'\\', start);
    if (end == std::wstring_view::npos) end = rest.size();
    const std::wstring_view name = rest.substr(start, end - start);
    if (name.size() > kMaxName) return false;
    for (const wchar_t c : name) {
      if (c < 32 || std::wstring_view(LR"(<>:"|?*)").find(c) != std::wstring_view::npos) {
        return false;
      }
    }
    start = end + 1;
  }
  return true;
}

std::string RealPath(const std::string& path) {
  const std::wstring system_path = SystemPath(path);
  if (system_path.empty()) return {};
  const Handle handle = OpenForAttributes(system_path, true);
  if (!handle.IsValid()) return {};
  std::wstring final_path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(handle.get(), final_path.data(),
                                                     static_cast<DWORD>(final_path.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    if (length < final_path.size()) {
      final_path.resize(length);
      break;
    }
    final_path.resize(length + 1);
  }
  return Narrow(WithoutLongPrefix(final_path));
}

std::string ErrorText(int error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length > 0 && text != nullptr ? std::wstring(text, length) : L"";
  if (text != nullptr) ::LocalFree(text);
  // The system's texts end with a line break, which would split a log line.
  while (!message.empty() &&
         (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
    message.pop_back();
  }
  if (message.empty()) return "error " + std::to_string(error);
  return Narrow(message);
}

}  // namespace qor::platform
