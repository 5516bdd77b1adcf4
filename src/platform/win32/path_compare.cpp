#include "platform/path_compare.h"

#include <string_view>

#include "platform/files.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

bool IdentityOf(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  const std::wstring system_path = SystemPath(path);
  if (system_path.empty()) return false;
  const Handle handle = OpenForAttributes(system_path, true);
  return handle.IsValid() && ::GetFileInformationByHandle(handle.get(), &info);
}

// Letter case does not count in a Windows path; compared as the file
// system compares names.
bool SameText(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring WithBackslash(std::wstring path) {
  if (path.empty() || path.back() != L'\\') path += L'\\';
  return path;
}

// Where the climb from a folder up through its parents ends: the length of
// "\\server\share", the first parent of a UNC path that is a folder. Above
// it, "\\server" and "\" name no parent: "\" is the root of the current
// drive. 0 for a path on a drive, whose climb ends by itself at "C:".
std::size_t ShareEnd(std::string_view path) {
  if (!path.starts_with(R"(\\)")) return 0;
  const std::size_t server_end = path.find(kSeparator, 2);
  return server_end == std::string_view::npos ? path.size() : path.find(kSeparator, server_end + 1);
}

}  // namespace

bool IsSameObject(const std::string& first, const std::string& second) {
  BY_HANDLE_FILE_INFORMATION a;
  BY_HANDLE_FILE_INFORMATION b;
  if (!IdentityOf(first, a) || !IdentityOf(second, b)) return false;
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

FolderRelation RelateFolders(const std::string& target, const std::string& source) {
  const std::wstring wide_target = WithBackslash(Widen(target));
  const std::wstring wide_source = WithBackslash(Widen(source));
  if (SameText(wide_target, wide_source) || IsSameObject(target, source)) {
    return FolderRelation::Same;
  }
  // With "\" on both ends a sibling whose name merely begins like the source
  // (C:\in and C:\inbox) is not taken for a subfolder of it.
  if (wide_target.size() > wide_source.size() &&
      SameText(std::wstring_view(wide_target).substr(0, wide_source.size()), wide_source)) {
    return FolderRelation::Inside;
  }
  // Every parent on the way up from the target, checked by identity too: a
  // second name of the source (another subst drive, a share) is caught here.
  std::string parent = target;
  while (!parent.empty() && parent.back() == kSeparator) parent.pop_back();
  const std::size_t share_end = ShareEnd(parent);
  for (;;) {
    const std::size_t cut = parent.find_last_of(kSeparator);
    if (cut == std::string::npos || cut < share_end) break;
    parent.resize(cut);
    if (IsSameObject(parent + kSeparator, source)) return FolderRelation::Inside;
  }
  return FolderRelation::Apart;
}

}  // namespace qor::platform
