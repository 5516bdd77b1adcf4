#include "platform/text_file.h"

#include <fcntl.h>
#include <io.h>

#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

// The file's handle behind the C runtime's descriptor the class keeps.
HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

}  // namespace

TextFile::~TextFile() {
  if (fd_ >= 0) ::_close(fd_);
}

Outcome TextFile::Create(const std::string& path) {
  if (fd_ >= 0) Close();
  const std::wstring system_path = SystemPath(path);
  if (system_path.empty()) return {ERROR_BAD_PATHNAME};
  // Opened without emptying first, so that a link is found before anything
  // changes; no delete sharing, so the file can be neither moved nor removed
  // while it is written.
  Handle file(::CreateFileW(system_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                            nullptr));
  if (!file.IsValid()) return {LastError()};
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file.get(), &info)) return {LastError()};
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return {ERROR_CANT_ACCESS_FILE};
  if (!::SetEndOfFile(file.get())) return {LastError()};
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_WRONLY | _O_BINARY);
  if (fd < 0) return {ERROR_TOO_MANY_OPEN_FILES};
  file.Release();  // the descriptor owns it now
  fd_ = fd;
  identity_ = {info.dwVolumeSerialNumber,
               (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return {};
}

Outcome TextFile::Write(std::string_view text) {
  if (fd_ < 0) return {ERROR_INVALID_HANDLE};
  while (!text.empty()) {
    const DWORD piece = text.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(text.size());
    DWORD written = 0;
    if (!::WriteFile(HandleOf(fd_), text.data(), piece, &written, nullptr)) return {LastError()};
    if (written == 0) return {ERROR_WRITE_FAULT};
    text.remove_prefix(written);
  }
  return {};
}

Outcome TextFile::Sync() {
  if (fd_ < 0) return {ERROR_INVALID_HANDLE};
  if (!::FlushFileBuffers(HandleOf(fd_))) return {LastError()};
  return {};
}

Outcome TextFile::Close() {
  if (fd_ < 0) return {};
  const int fd = fd_;
  fd_ = -1;
  if (::_close(fd) != 0) return {ERROR_WRITE_FAULT};
  return {};
}

}  // namespace qor::platform
