#include "platform/process.h"

#include <vector>

#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

std::wstring FolderOfPath(const std::wstring& path) {
  const std::size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos) return L".";
  // A drive's root keeps its backslash: "C:" alone is the drive's current
  // folder.
  if (slash > 0 && path[slash - 1] == L':') return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

}  // namespace

std::string ExecutableFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return ".";
    if (length < buffer.size()) {
      return Narrow(FolderOfPath(WithoutLongPrefix(std::wstring_view(buffer.data(), length))));
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string CurrentFolder() {
  const DWORD size = ::GetCurrentDirectoryW(0, nullptr);
  if (size == 0) return {};
  std::wstring folder(size, L'\0');
  const DWORD length = ::GetCurrentDirectoryW(size, folder.data());
  if (length == 0 || length >= size) return {};
  folder.resize(length);
  // Without a trailing "\", as on Linux, except at a drive's root.
  if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  return Narrow(WithoutLongPrefix(folder));
}

void RaiseOpenFileLimit() {
  // Windows sets no small limit on the handles of a process, and the walk
  // holds only a few hundred folders open however deep the tree.
}

void ReportFileSizeLimitAsError() {
  // Windows has no file size limit of a process, nor a signal for it.
}

}  // namespace qor::platform
