#include "platform/text_file.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/run_journal.h"
#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

Outcome ReadOpen(HANDLE file, std::string& text, std::size_t most) {
  char buffer[65536];
  for (std::size_t read = 0; read < most;) {
    DWORD got = 0;
    if (!::ReadFile(file, buffer, sizeof buffer, &got, nullptr)) return {LastError()};
    if (got == 0) return {};
    text.append(buffer, got);
    read += got;
  }
  return {};
}

}  // namespace

Outcome ReadEntireFile(const std::string& path, std::string& text, std::size_t most) {
  const std::wstring system_path = SystemPath(path);
  if (system_path.empty()) return {ERROR_BAD_PATHNAME};
  const Handle file(::CreateFileW(system_path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.IsValid()) return {LastError()};
  return ReadOpen(file.get(), text, most);
}

Outcome ReadOwnFile(const std::string& path, std::string& text, std::string& why) {
  const std::wstring system_path = SystemPath(path);
  if (system_path.empty()) return {ERROR_BAD_PATHNAME};
  // Held against writing while it is judged and read.
  const Handle file(::CreateFileW(system_path.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.IsValid()) return {LastError()};
  why = WrittenByOthers(file.get());
  if (!why.empty()) return {kNotThisUsersFile};
  return ReadOpen(file.get(), text, static_cast<std::size_t>(-1));
}

}  // namespace qor::platform
