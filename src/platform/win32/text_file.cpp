#include "platform/text_file.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <limits>

#include "platform/win32/listing.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/run_journal.h"
#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

// Room is taken this far beyond what is asked for, so that most requests find
// theirs already there and cost no call.
constexpr std::uint64_t kReserveAhead = 64 * 1024;

// The file's handle behind the C runtime's descriptor the class keeps.
HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// Allocates room up to `end` bytes without changing the file's size.
int Allocate(HANDLE file, std::uint64_t end) {
  FILE_ALLOCATION_INFO allocation;
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(end);
  return ::SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation)
             ? 0
             : LastError();
}

// Where the file system cannot allocate ahead, its free space is the best
// left to look at: no guarantee, since another program can take it first.
int CheckFreeSpace(HANDLE file, std::uint64_t bytes) {
  const std::wstring path = FinalPath(file);
  const std::size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos) return 0;
  ULARGE_INTEGER free_to_caller;
  if (!::GetDiskFreeSpaceExW(path.substr(0, slash + 1).c_str(), &free_to_caller, nullptr,
                             nullptr)) {
    return 0;  // nothing known: the write itself will tell
  }
  // One cluster more for a cluster begun.
  return free_to_caller.QuadPart >= bytes + 65536 ? 0 : ERROR_DISK_FULL;
}

}  // namespace

TextFile::~TextFile() {
  if (fd_ >= 0) Close();
}

Outcome TextFile::Create(const std::string& path, IfNotEmpty if_not_empty) {
  if (fd_ >= 0) Close();
  const std::wstring system_path = SystemPath(path);
  if (system_path.empty()) return {ERROR_BAD_PATHNAME};
  // Opened without emptying first, so that a link is found, and a file that
  // another run writes is refused, before anything changes. Read sharing
  // only: a second writer, another run among them, is refused while this
  // one writes, and the file can be neither moved nor removed meanwhile.
  Handle file(::CreateFileW(system_path.c_str(), GENERIC_WRITE | READ_CONTROL, FILE_SHARE_READ,
                            nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.IsValid()) {
    const int error = LastError();
    return {error == ERROR_SHARING_VIOLATION ? kInUseByAnotherRun : error};
  }
  // A file that was there already is written only when no one else can
  // have made or changed it (a shared folder, a share): anything else under
  // the name is left as it is.
  if (::GetLastError() == ERROR_ALREADY_EXISTS && !WrittenByOthers(file.get()).empty()) {
    return {kNotThisUsersFile};
  }
  const bool is_disk_file = ::GetFileType(file.get()) == FILE_TYPE_DISK;
  BY_HANDLE_FILE_INFORMATION info{};
  if (is_disk_file) {
    if (!::GetFileInformationByHandle(file.get(), &info)) return {LastError()};
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return {ERROR_CANT_ACCESS_FILE};
    if (if_not_empty == IfNotEmpty::Refuse && (info.nFileSizeHigh != 0 || info.nFileSizeLow != 0)) {
      return {kNotEmpty};
    }
    if (!::SetEndOfFile(file.get())) return {LastError()};
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_WRONLY | _O_BINARY);
  if (fd < 0) return {ERROR_TOO_MANY_OPEN_FILES};
  file.Release();  // the descriptor owns it now
  fd_ = fd;
  path_ = path;
  identity_ = {info.dwVolumeSerialNumber,
               (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  is_regular_ = is_disk_file;
  can_allocate_ = true;
  written_ = 0;
  reserved_end_ = 0;
  size_limit_ = std::numeric_limits<std::uint64_t>::max();
  return {};
}

Outcome TextFile::Reserve(std::uint64_t bytes) {
  if (fd_ < 0) return {ERROR_INVALID_HANDLE};
  // A pipe or a device has no space of its own that could run out.
  if (!is_regular_) return {};
  if (bytes > size_limit_ - written_) return {ERROR_FILE_TOO_LARGE};
  const std::uint64_t end = written_ + bytes;
  if (end <= reserved_end_) return {};
  const HANDLE file = HandleOf(fd_);
  if (!can_allocate_) return {CheckFreeSpace(file, bytes)};

  std::uint64_t ahead = std::max(end, std::min(end + kReserveAhead, size_limit_));
  int error = Allocate(file, ahead);
  // A nearly full disk may still hold exactly what was asked for.
  if ((error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) && ahead > end) {
    error = Allocate(file, ahead = end);
  }
  if (error == 0) {
    reserved_end_ = ahead;
    return {};
  }
  if (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
      error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED) {
    can_allocate_ = false;
    return {CheckFreeSpace(file, bytes)};
  }
  return {error};
}

Outcome TextFile::Write(std::string_view text) {
  if (fd_ < 0) return {ERROR_INVALID_HANDLE};
  while (!text.empty()) {
    const DWORD piece = text.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(text.size());
    DWORD written = 0;
    if (!::WriteFile(HandleOf(fd_), text.data(), piece, &written, nullptr)) return {LastError()};
    if (written == 0) return {ERROR_WRITE_FAULT};
    written_ += written;
    text.remove_prefix(written);
  }
  return {};
}

Outcome TextFile::Sync() {
  if (fd_ < 0) return {ERROR_INVALID_HANDLE};
  // A pipe or a device has nothing to bring to a disk.
  if (!::FlushFileBuffers(HandleOf(fd_)) && is_regular_) return {LastError()};
  return {};
}

Outcome TextFile::Close() {
  if (fd_ < 0) return {};
  const int fd = fd_;
  fd_ = -1;
  int error = 0;
  // The room beyond what was written goes back; the allocation is set to the
  // file's own size, which never cuts anything written.
  if (is_regular_ && reserved_end_ > written_) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(HandleOf(fd), &size)) {
      error = LastError();
    } else {
      error = Allocate(HandleOf(fd), static_cast<std::uint64_t>(size.QuadPart));
    }
  }
  if (::_close(fd) != 0 && error == 0) error = ERROR_WRITE_FAULT;
  return {error};
}

bool TextFile::CloseRemovingIfEmpty() {
  const bool empty = fd_ >= 0 && is_regular_ && written_ == 0;
  const FileIdentity identity = identity_;
  Close();
  if (!empty) return false;
  // Opened again alone, without any sharing: a run that opened it meanwhile
  // keeps it, and it goes only while it is still this very file, empty.
  const Handle file(::CreateFileW(SystemPath(path_).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.IsValid() || !::GetFileInformationByHandle(file.get(), &info) ||
      info.nFileSizeHigh != 0 || info.nFileSizeLow != 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  const FileIdentity now = {
      info.dwVolumeSerialNumber,
      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  if (!(now == identity)) return false;
  FILE_DISPOSITION_INFO dispose{TRUE};
  return ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof dispose) !=
         0;
}

}  // namespace qor::platform
