#include "platform/ini_location.h"

#include "platform/win32/owned_handle.h"
#include "platform/win32/wide.h"

namespace qor::platform {

bool CanCreateFileIn(const std::string& folder) {
  // Windows' access rules (inherited entries, virtualisation under Program
  // Files) are best answered by trying: a file that deletes itself on close.
  const std::wstring system_folder = SystemPath(folder);
  if (system_folder.empty()) return false;
  std::wstring probe = system_folder;
  if (probe.back() != L'\\') probe += L'\\';
  probe += L".qor-write-test-" + std::to_wstring(::GetCurrentProcessId());
  const Handle file(::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  return file.IsValid();
}

namespace {

// The absolute folder the environment variable `name` gives, without a
// trailing separator; empty when unset or relative.
std::string EnvironmentFolder(const wchar_t* name) {
  const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring folder(size, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name, folder.data(), size);
  if (length == 0 || length >= size) return {};
  folder.resize(length);
  const bool absolute = (folder.size() >= 3 && folder[1] == L':' && folder[2] == L'\\') ||
                        folder.starts_with(LR"(\\)");
  if (!absolute) return {};
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  return Narrow(folder);
}

}  // namespace

std::string UserConfigFolder() {
  // The user's roaming application data; a relative value is ignored, as
  // on Linux.
  return EnvironmentFolder(L"APPDATA");
}

std::string UserStateFolder() {
  // What stays on this machine: the user's local application data.
  return EnvironmentFolder(L"LOCALAPPDATA");
}

}  // namespace qor::platform
