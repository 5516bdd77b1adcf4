// The next run's side of the journal on Windows: what a killed run left is
// finished, by what its journal says and by nothing else.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/journal_records.h"
#include "platform/temporary_names.h"
#include "platform/win32/cross_volume_move.h"
#include "platform/win32/listing.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The path a record names: its folder (ending with "\") and name.
std::wstring RecordPath(const std::string& folder, const std::string& name) {
  return Widen(folder) + Widen(name);
}

bool ReadInfo(HANDLE file, FILE_BASIC_INFO& basic, FILE_STANDARD_INFO& standard) {
  return ::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
         ::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard);
}

// Reads up to `size` bytes, fewer only at the end of the file.
bool ReadFull(HANDLE file, char* buffer, DWORD size, DWORD& got) {
  got = 0;
  while (got < size) {
    DWORD piece = 0;
    if (!::ReadFile(file, buffer + got, size - got, &piece, nullptr)) return false;
    if (piece == 0) break;
    got += piece;
  }
  return true;
}

// Whether the open files `a` and `b` are the same file in every way a copy
// keeps: a file (no folder, no link), size, last write (as far as the
// copy's file system keeps it), the attributes a user sets, every byte.
bool Equal(HANDLE a, HANDLE b, DWORD& a_attributes) {
  constexpr DWORD kKind = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
  constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  FILE_BASIC_INFO ba, bb;
  FILE_STANDARD_INFO sa, sb;
  if (!ReadInfo(a, ba, sa) || !ReadInfo(b, bb, sb)) return false;
  a_attributes = ba.FileAttributes;
  const auto apart = ba.LastWriteTime.QuadPart - bb.LastWriteTime.QuadPart;
  if (((ba.FileAttributes | bb.FileAttributes) & kKind) != 0 ||
      (ba.FileAttributes & kKept) != (bb.FileAttributes & kKept) ||
      sa.EndOfFile.QuadPart != sb.EndOfFile.QuadPart ||
      static_cast<std::uint64_t>(apart < 0 ? -apart : apart) > kCoarsestWriteTime) {
    return false;
  }
  std::vector<char> buffer_a(1 << 16), buffer_b(1 << 16);
  for (;;) {
    DWORD got_a = 0, got_b = 0;
    if (!ReadFull(a, buffer_a.data(), static_cast<DWORD>(buffer_a.size()), got_a) ||
        !ReadFull(b, buffer_b.data(), static_cast<DWORD>(buffer_b.size()), got_b) ||
        got_a != got_b ||
        !std::equal(buffer_a.begin(), buffer_a.begin() + got_a, buffer_b.begin())) {
      return false;
    }
    if (got_a == 0) return true;
  }
}

void RemoveTemporary(const std::string& folder, const std::string& name) {
  if (!IsRandomName(name, kTemporaryPrefix)) return;
  // Without sharing: should anyone have it open, it stays.
  const Handle file = OpenToDelete(RecordPath(folder, name), 0);
  FILE_BASIC_INFO basic;
  if (file.IsValid() &&
      ::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteOpenFile(file.get(), basic.FileAttributes);
  }
}

// A copy was about to be put in place, its source still there.
void FinishPlacing(const std::vector<std::string>& record, Recovery& recovery) {
  // Held against writers while it is compared, and deleted through that
  // handle: what goes is the very file found equal.
  const Handle source(::CreateFileW(
      RecordPath(record[1], record[2]).c_str(), GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES,
      FILE_SHARE_READ, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!source.IsValid()) {
    if (!IsMissing(::GetLastError())) ++recovery.left;
    return;  // gone: it moved
  }
  const Handle copy(::CreateFileW(
      RecordPath(record[3], record[4]).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!copy.IsValid()) {
    if (!IsMissing(::GetLastError())) ++recovery.left;
    return;  // never placed: the source stays where it is
  }
  DWORD attributes = 0;
  if (Equal(source.get(), copy.get(), attributes) &&
      DeleteOpenFile(source.get(), attributes) == 0) {
    recovery.entries.push_back(record[5]);
  } else {
    ++recovery.left;  // changed since, or a link: both stay
  }
}

bool ReadJournal(HANDLE file, std::string& text) {
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file, buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) return true;
    text.append(buffer, got);
  }
}

}  // namespace

Recovery RecoverKilledRuns(const std::string& root) {
  Recovery recovery;
  const std::wstring folder = WithBackslash(SystemPath(root));
  if (folder.empty()) return recovery;
  std::vector<std::wstring> journals;
  {
    WIN32_FIND_DATAW data;
    const std::wstring pattern = folder + Widen(kJournalPrefix) + L"*";
    const SearchHandle search(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                                 FindExSearchNameMatch, nullptr, 0));
    if (!search.IsValid()) return recovery;
    do {
      if (IsRandomName(Narrow(data.cFileName), kJournalPrefix)) journals.push_back(data.cFileName);
    } while (::FindNextFileW(search.get(), &data));
  }
  for (const std::wstring& name : journals) {
    // A live run holds its journal without sharing: the open fails. Held
    // here the same way, one killed run's journal is finished by one run.
    const Handle journal(::CreateFileW((folder + name).c_str(), GENERIC_READ | DELETE, 0, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FILE_BASIC_INFO basic;
    std::string text;
    if (!journal.IsValid() ||
        !::GetFileInformationByHandleEx(journal.get(), FileBasicInfo, &basic, sizeof basic) ||
        (basic.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        !ReadJournal(journal.get(), text)) {
      continue;
    }
    for (const auto& record : JournalRecords(text)) {
      if (record[0] == "T") RemoveTemporary(record[1], record[2]);
      if (record[0] == "P") FinishPlacing(record, recovery);
    }
    FILE_DISPOSITION_INFO dispose{TRUE};
    ::SetFileInformationByHandle(journal.get(), FileDispositionInfo, &dispose, sizeof dispose);
  }
  return recovery;
}

}  // namespace qor::platform
