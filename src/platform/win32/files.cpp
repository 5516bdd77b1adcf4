// Windows implementation of the file-system layer, over the wide-character
// API with "\\?\" paths, so that no path is too long.

#include "platform/files.h"

#include <string_view>

#include "platform/path_parts.h"
#include "platform/win32/cross_volume_move.h"
#include "platform/win32/listing.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/test_seams.h"
#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

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

// The reparse tag of `path` itself; 0 when it has none or it cannot be read.
DWORD ReparseTag(const std::wstring& path) {
  const Handle file = OpenForAttributes(path, false);
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!file.IsValid() ||
      !::GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &info, sizeof info)) {
    return 0;
  }
  return info.ReparseTag;
}

// A folder that would go whole, with everything in it, under one log entry:
// a real one, or one that carries a reparse point of another kind than a
// link (a cloud placeholder). Only a link to a folder moves, as the link.
bool IsWholeFolder(const std::wstring& path, DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         !IsLinkReparsePoint(attributes, ReparseTag(path));
}

}  // namespace

Outcome MoveSystemPaths(const std::wstring& from, const std::wstring& to, RunJournal* journal,
                        const std::string& entry, bool* across) {
  if (from.empty() || to.empty()) return {ERROR_BAD_PATHNAME};
  // Only files and links are moved: a folder put in a file's place since the
  // listing would go with everything in it.
  const DWORD attributes = ::GetFileAttributesW(from.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {LastError()};
  if (IsWholeFolder(from, attributes)) return {kIsAFolder};
  if (test_seams::before_rename != nullptr) test_seams::before_rename(from);
  // Without MOVEFILE_REPLACE_EXISTING an existing name is never replaced.
  if (!::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
    const int error = LastError();
    if (error == ERROR_NOT_SAME_DEVICE) {
      if (across != nullptr) *across = true;
      return MoveAcrossVolumes(from, to, journal, entry);
    }
    // Not a failure of this run: the file is left to the run that has it.
    if (error == ERROR_SHARING_VIOLATION && HeldByAnotherRun(from)) return {kInUseByAnotherRun};
    return {error};
  }
  // A folder put in the file's place between the check and the rename went
  // with it: it goes back, without replacing what may have taken its name
  // meanwhile. Should that fail, it stays at `to`, and the failure says so.
  const DWORD moved = ::GetFileAttributesW(to.c_str());
  if (moved == INVALID_FILE_ATTRIBUTES || !IsWholeFolder(to, moved)) return {};
  if (!::MoveFileExW(to.c_str(), from.c_str(), MOVEFILE_WRITE_THROUGH)) {
    return {kFolderTookItsPlace};
  }
  return {kIsAFolder};
}

Outcome MoveFileNoReplace(const std::string& from, const std::string& to) {
  return MoveSystemPaths(SystemPath(from), SystemPath(to));
}

Outcome MoveEntryNoReplace(const FolderListing& folder, const std::string& name,
                           const std::string& to) {
  if (!folder.state_->folder_handle.IsValid()) return {ERROR_INVALID_HANDLE};
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
  const std::size_t root = RootLength(full);
  std::wstring partial = full.substr(0, root);
  for (const std::wstring& name : FolderNames(std::wstring_view(full).substr(root), L'\\')) {
    if (partial.size() > root) partial += L'\\';
    partial += name;
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
  const SearchHandle search(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                               FindExSearchNameMatch, nullptr, 0));
  if (!search.IsValid()) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if (!IsDots(data.cFileName)) return false;
  } while (::FindNextFileW(search.get(), &data));
  return true;
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

bool EntryExists(const std::string& path) {
  // GetFileAttributesW reads a link or junction itself, not what it leads to.
  const std::wstring system_path = SystemPath(path);
  return !system_path.empty() &&
         ::GetFileAttributesW(system_path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsWellFormedPath(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  const std::wstring full = SystemPath(path);
  // The longest path the wide-character API takes, and NTFS's longest name.
  constexpr std::size_t kMaxPath = 32767;
  constexpr std::size_t kMaxName = 255;
  if (full.empty() || full.size() >= kMaxPath) return false;
  for (const std::wstring_view name :
       SplitPath(std::wstring_view(full).substr(RootLength(full)), L'\\')) {
    if (name.size() > kMaxName) return false;
    for (const wchar_t c : name) {
      if (c < 32 || std::wstring_view(LR"(<>:"|?*)").find(c) != std::wstring_view::npos) {
        return false;
      }
    }
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
  if (const char* own = OwnErrorText(error)) return own;
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const LocalMemory held(text);
  std::wstring message = length > 0 && text != nullptr ? std::wstring(text, length) : L"";
  // The system's texts end with a line break, which would split a log line.
  while (!message.empty() &&
         (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
    message.pop_back();
  }
  if (message.empty()) return "error " + std::to_string(error);
  return Narrow(message);
}

}  // namespace qor::platform
