// Windows file side of the INI reader and writer: the whole file is read and
// decoded, the text rules of ini_text.h applied, and a changed file replaces
// the old one in a single rename.

#include "platform/ini.h"

#include <string_view>

#include "platform/ini_text.h"
#include "platform/win32/ini_encoding.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

enum class ReadResult { kRead, kMissing, kFailed };

struct ExistingFile {
  std::string text;  // decoded
  bool exists = false;
  DWORD attributes = 0;
};

ReadResult ReadWholeFile(const std::wstring& path, ExistingFile& file) {
  const Handle handle(::CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle.IsValid()) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadResult::kMissing
                                                                          : ReadResult::kFailed;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return ReadResult::kFailed;
  }
  std::string bytes;
  char buffer[8192];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(handle.get(), buffer, sizeof buffer, &got, nullptr)) return ReadResult::kFailed;
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  file.text = DecodeIniFile(bytes);
  file.exists = true;
  file.attributes = info.dwFileAttributes;
  return ReadResult::kRead;
}

// Replaces `path` with `bytes` so that a reader sees either the old file or
// the whole new one. On failure the old file is untouched and no temporary is
// left behind.
bool ReplaceWholeFile(const std::wstring& path, std::string_view bytes) {
  const std::size_t slash = path.rfind(L'\\');
  const std::wstring folder = path.substr(0, slash + 1);
  const std::wstring name = path.substr(slash + 1);
  std::wstring temporary;
  Handle file;
  for (unsigned attempt = 0; attempt < 100 && !file.IsValid(); ++attempt) {
    temporary = folder + L"." + name + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." +
                std::to_wstring(::GetTickCount64()) + L"." + std::to_wstring(attempt);
    file = Handle(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid() && ::GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (!file.IsValid()) return false;
  bool ok = true;
  while (ok && !bytes.empty()) {
    DWORD written = 0;
    ok = ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
         written > 0;
    bytes.remove_prefix(written);
  }
  ok = ok && ::FlushFileBuffers(file.get());
  file.Reset();
  ok = ok && ::MoveFileExW(temporary.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) ::DeleteFileW(temporary.c_str());
  return ok;
}

}  // namespace

std::optional<std::string> ReadIniValue(const std::string& file, const std::string& section,
                                        const std::string& key) {
  ExistingFile existing;
  // An unreadable file reads as a missing one.
  if (ReadWholeFile(SystemPath(file), existing) != ReadResult::kRead) return std::nullopt;
  return FindIniValue(SplitIniLines(existing.text), section, key);
}

bool WriteIniValue(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) {
  return WriteIniValues(file, section, {{key, value}});
}

bool WriteIniValues(const std::string& file, const std::string& section,
                    const std::vector<std::pair<std::string, std::string>>& values) {
  const std::wstring path = SystemPath(file);
  if (path.empty()) return false;
  ExistingFile existing;
  // A file that exists but cannot be read is never replaced: its other
  // sections would be lost.
  if (ReadWholeFile(path, existing) == ReadResult::kFailed) return false;
  // A file made read-only keeps its settings as they are.
  if (existing.exists && (existing.attributes & FILE_ATTRIBUTE_READONLY)) return false;
  std::vector<std::string> lines = SplitIniLines(existing.text);
  bool all_stored = true;
  bool changed = false;
  for (const auto& [key, value] : values) {
    if (SetIniValue(lines, section, key, value)) {
      changed = true;
    } else {
      all_stored = false;
    }
  }
  if (!changed) return all_stored;
  return ReplaceWholeFile(path, EncodeIniFile(JoinIniLines(lines))) && all_stored;
}

}  // namespace qor::platform
