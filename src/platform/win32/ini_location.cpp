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

std::string UserConfigFolder() {
  // %APPDATA%, the user's roaming application data; a relative value is
  // ignored, as on Linux.
  const DWORD size = ::GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
  if (size == 0) return {};
  std::wstring folder(size, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(L"APPDATA", folder.data(), size);
  if (length == 0 || length >= size) return {};
  folder.resize(length);
  const bool absolute = (folder.size() >= 3 && folder[1] == L':' && folder[2] == L'\\') ||
                        folder.starts_with(LR"(\\)");
  if (!absolute) return {};
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  return Narrow(folder);
}

}  // namespace qor::platform
