#include "platform/win32/run_journal.h"

#include "platform/journal_records.h"
#include "platform/temporary_names.h"
#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

// A path split into its folder (ending with "\") and its name, as UTF-8;
// false when a name with a lone surrogate would lead back to another file.
bool Split(const std::wstring& path, std::string& folder, std::string& name) {
  const std::size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos || !IsWellFormedUtf16(path)) return false;
  folder = Narrow(std::wstring_view(path).substr(0, slash + 1));
  name = Narrow(std::wstring_view(path).substr(slash + 1));
  return true;
}

}  // namespace

RunJournal::~RunJournal() {
  if (!file_.IsValid()) return;
  FILE_DISPOSITION_INFO dispose{TRUE};
  ::SetFileInformationByHandle(file_.get(), FileDispositionInfo, &dispose, sizeof dispose);
}

bool RunJournal::Ready() {
  if (file_.IsValid()) return true;
  if (failed_ || root_.empty()) return false;
  // Made and held in one step, without sharing: no other run ever opens it
  // while this one lives, and so never takes it for a killed run's.
  for (int attempt = 0; attempt < 16; ++attempt) {
    Handle file(::CreateFileW((root_ + Widen(RandomName(kJournalPrefix))).c_str(),
                              GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.IsValid()) {
      file_ = std::move(file);
      return true;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  failed_ = true;
  return false;
}

void RunJournal::Write(const std::string& record) {
  // One write each, so a kill leaves whole records only.
  const std::lock_guard lock(mutex_);
  if (!Ready()) return;
  DWORD written = 0;
  if (!::WriteFile(file_.get(), record.data(), static_cast<DWORD>(record.size()), &written,
                   nullptr) ||
      written != record.size()) {
    failed_ = true;
  }
}

void RunJournal::Temporary(const std::wstring& path) {
  std::string folder, name;
  if (Split(path, folder, name)) Write(TemporaryRecord(folder, name));
}

void RunJournal::Placing(const std::wstring& from, const std::wstring& to,
                         const std::string& entry) {
  std::string source, source_name, target, name;
  if (!Split(from, source, source_name) || !Split(to, target, name)) return;
  Write(PlacingRecord(source, source_name, target, name, entry));
}

void RunJournal::Sync() {
  const std::lock_guard lock(mutex_);
  if (file_.IsValid() && !::FlushFileBuffers(file_.get())) failed_ = true;
}

void RunJournal::Clear() {
  const std::lock_guard lock(mutex_);
  LARGE_INTEGER start{};
  if (file_.IsValid() && (!::SetFilePointerEx(file_.get(), start, nullptr, FILE_BEGIN) ||
                          !::SetEndOfFile(file_.get()))) {
    failed_ = true;
  }
}

}  // namespace qor::platform
