#include "platform/win32/cross_volume_move.h"

#include <random>

#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

std::wstring RandomSuffix() {
  static std::mt19937_64 generator{std::random_device{}()};
  static const wchar_t kDigits[] = L"0123456789abcdef";
  std::uint64_t bits = generator();
  std::wstring text(12, L'0');
  for (wchar_t& c : text) {
    c = kDigits[bits & 15];
    bits >>= 4;
  }
  return text;
}

// Deletes a file this move made, read-only or not.
void DeleteOwnFile(const std::wstring& path) {
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileW(path.c_str());
}

// Brings the copy `path` to the disk. A read-only copy is opened for writing
// only with that attribute lifted for the moment.
int FlushCopy(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
  const bool read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (read_only && !::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    return LastError();
  }
  int error = 0;
  {
    const Handle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                    nullptr));
    if (!file.IsValid() || !::FlushFileBuffers(file.get())) error = LastError();
  }
  if (read_only && !::SetFileAttributesW(path.c_str(), attributes) && error == 0) {
    error = LastError();
  }
  return error;
}

// The copy must be the source as it is now: same size, same last write. A
// source written to during the copy is better left than kept torn.
int CheckCopy(const std::wstring& from, const std::wstring& copy) {
  WIN32_FILE_ATTRIBUTE_DATA source;
  WIN32_FILE_ATTRIBUTE_DATA copied;
  if (!::GetFileAttributesExW(from.c_str(), GetFileExInfoStandard, &source) ||
      !::GetFileAttributesExW(copy.c_str(), GetFileExInfoStandard, &copied)) {
    return LastError();
  }
  if (source.nFileSizeHigh != copied.nFileSizeHigh || source.nFileSizeLow != copied.nFileSizeLow ||
      ::CompareFileTime(&source.ftLastWriteTime, &copied.ftLastWriteTime) != 0) {
    return ERROR_RETRY;  // changed while it was copied: worth another run
  }
  return 0;
}

}  // namespace

Outcome MoveAcrossVolumes(const std::wstring& from, const std::wstring& to) {
  const std::size_t slash = to.rfind(L'\\');
  if (slash == std::wstring::npos || slash + 1 == to.size()) return {ERROR_BAD_PATHNAME};
  const std::wstring folder = to.substr(0, slash + 1);
  // Refuse early rather than copy a large file only to find the name taken.
  if (::GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES) return {ERROR_ALREADY_EXISTS};

  std::wstring temporary;
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 16 && error == ERROR_FILE_EXISTS; ++attempt) {
    temporary = folder + kTemporaryPrefix + RandomSuffix();
    // A link is copied as a link, never what it leads to.
    error = ::CopyFileExW(from.c_str(), temporary.c_str(), nullptr, nullptr, nullptr,
                          COPY_FILE_FAIL_IF_EXISTS | COPY_FILE_COPY_SYMLINK)
                ? 0
                : ::GetLastError();
  }
  if (error != 0) {
    // A copy broken off part-way may have left its file.
    if (error != ERROR_FILE_EXISTS) DeleteOwnFile(temporary);
    return {static_cast<int>(error)};
  }
  if (const int failed = FlushCopy(temporary)) {
    DeleteOwnFile(temporary);
    return {failed};
  }
  if (const int failed = CheckCopy(from, temporary)) {
    DeleteOwnFile(temporary);
    return {failed};
  }
  // The final name, without replacing what may have appeared there meanwhile.
  if (!::MoveFileExW(temporary.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
    const int failed = LastError();
    DeleteOwnFile(temporary);
    return {failed};
  }

  // Only now, with the copy in place and on disk, does the source go. A
  // read-only source is deleted too, as a move on one volume would take it.
  const DWORD attributes = ::GetFileAttributesW(from.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    ::SetFileAttributesW(from.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (!::DeleteFileW(from.c_str())) {
    const int failed = LastError();
    if (attributes != INVALID_FILE_ATTRIBUTES) ::SetFileAttributesW(from.c_str(), attributes);
    DeleteOwnFile(to);
    return {failed};
  }
  return {};
}

}  // namespace qor::platform
