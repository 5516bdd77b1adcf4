// The next run's side of the journal on Windows: what a killed run left is
// finished, by what its journal says and by nothing else, and only when the
// journal shows in every way that this program made it for this folder:
// anyone may drop a file of that name into a shared folder.

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/ini_location.h"
#include "platform/journal_key.h"
#include "platform/journal_records.h"
#include "platform/path_parts.h"
#include "platform/recovery_logs.h"
#include "platform/temporary_names.h"
#include "platform/win32/cross_volume_move.h"
#include "platform/win32/listing.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/run_journal.h"
#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Whether `name` could be a name in a Windows folder: one with ":" would
// name a stream of another file, and one with a wildcard or a control
// character names nothing this program moved.
bool IsWindowsName(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::string_view(R"(<>:"/\|?*)").find(c) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

bool IsWindowsFolder(std::string_view folder) {
  for (const std::string& name : FolderNames(folder, '\\')) {
    if (!IsWindowsName(name)) return false;
  }
  return true;
}

// The "\\?\" form of an absolute path as a journal records it ("C:\a\" or
// "\\server\share\a\"), built without the system's reading of "." and
// trailing dots; empty when it is neither form.
std::wstring LongPath(std::string_view path) {
  if (path.size() >= 3 && path[1] == ':' && path[2] == '\\' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
      IsWindowsFolder(path.substr(3))) {
    return LR"(\\?\)" + Widen(path);
  }
  if (path.starts_with(R"(\\)") && FolderNames(path.substr(2), '\\').size() >= 2 &&
      IsWindowsFolder(path.substr(2))) {
    return LR"(\\?\UNC\)" + Widen(path.substr(2));
  }
  return {};
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

// Reads at most `most` bytes from where the file stands; false when there
// were more, or a read failed.
bool ReadBounded(HANDLE file, std::uint64_t most, std::string& text) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    DWORD got = 0;
    if (!ReadFull(file, buffer.data(), static_cast<DWORD>(buffer.size()), got)) return false;
    if (got == 0) return true;
    text.append(buffer.data(), got);
    if (text.size() > most) return false;
  }
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

// A folder below an open root, entered one plain name at a time and never
// through a link or junction; each folder on the way is held open without
// delete sharing, so that none can be renamed or swapped for a link while
// this lives.
class HeldFolder {
 public:
  // `root` is the "\\?\" path of an open folder, ending with "\".
  HeldFolder(const std::wstring& root, const std::string& relative) : path_(root) {
    for (const std::string& name : FolderNames(std::string_view(relative), '\\')) {
      path_ += Widen(name);
      Handle folder = OpenFolder(path_, false);
      BY_HANDLE_FILE_INFORMATION info;
      if (!folder.IsValid() || !::GetFileInformationByHandle(folder.get(), &info)) {
        error_ = LastError();
        return;
      }
      if (!IsRealFolder(info.dwFileAttributes)) {
        error_ = ERROR_DIRECTORY;
        return;
      }
      held_.push_back(std::move(folder));
      path_ += L'\\';
    }
  }

  // 0 when every folder on the way was entered, else why not.
  int error() const { return error_; }
  std::wstring Path(const std::string& name) const { return path_ + Widen(name); }

 private:
  std::wstring path_;
  std::vector<Handle> held_;
  int error_ = 0;
};

bool Seek(HANDLE file, std::uint64_t offset) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
}

// The log `mark` names, opened to be read (and, `to_cut`, written, where no
// living run writes it: the run log is shared for reading only), at its
// path or found by its identity in the same folder; invalid when it is gone
// or is no plain file.
Handle OpenLog(const LogMark& mark, bool to_cut) {
  const std::wstring path = LongPath(mark.path);
  if (path.empty()) return Handle();
  const auto open = [&](const std::wstring& name) {
    // Without following a link or waiting on a pipe.
    Handle log(::CreateFileW(name.c_str(), GENERIC_READ | (to_cut ? GENERIC_WRITE : 0),
                             FILE_SHARE_READ | (to_cut ? 0 : FILE_SHARE_WRITE), nullptr,
                             OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (!log.IsValid() || ::GetFileType(log.get()) != FILE_TYPE_DISK ||
        !ReadInfo(log.get(), basic, standard) ||
        (basic.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        HandleIdentity(log.get()) != mark.identity) {
      return Handle();
    }
    return log;
  };
  if (Handle log = open(path); log.IsValid()) return log;
  const std::wstring folder = path.substr(0, path.rfind(L'\\') + 1);
  WIN32_FIND_DATAW found;
  const HANDLE search = ::FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return Handle();
  Handle log;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      log = open(folder + found.cFileName);
  } while (!log.IsValid() && ::FindNextFileW(search, &found));
  ::FindClose(search);
  return log;
}

}  // namespace

struct LogFile::State {
  Handle log;
};

LogFile::LogFile(const LogMark& mark, bool to_cut) : state_(std::make_unique<State>()) {
  Handle log = OpenLog(mark, to_cut);
  LARGE_INTEGER size;
  if (!log.IsValid() || !::GetFileSizeEx(log.get(), &size)) return;
  state_->log = std::move(log);
  open_ = true;
  size_ = static_cast<std::uint64_t>(size.QuadPart);
}

LogFile::~LogFile() = default;

bool LogFile::Read(std::uint64_t from, std::uint64_t most, std::string& text) {
  return IsOpen() && Seek(state_->log.get(), from) && ReadBounded(state_->log.get(), most, text);
}

bool LogFile::CutTo(std::uint64_t size) {
  return IsOpen() && Seek(state_->log.get(), size) && ::SetEndOfFile(state_->log.get()) &&
         ::FlushFileBuffers(state_->log.get());
}

namespace {

// One killed run's journal, read and checked; acted on by Finish.
class KilledRun {
 public:
  KilledRun(RecoveryLog& log, Recovery& recovery, const JournalKey& key)
      : log_(log), recovery_(recovery), key_(key) {}

  // Checks the open journal `file` in the folder whose identity is
  // `holder`; false, with why, when it is not this program's for that
  // folder.
  bool Read(HANDLE file, const FileIdentity& holder, std::string& why);
  // Does what the journal leaves to do; whether the journal may go.
  bool Finish(HANDLE file);

 private:
  void RemoveTemporary(const JournalRecord& record);
  // One move's last record; true when its file left its source.
  bool FinishMove(const JournalRecord& record);
  // The entries of files in flight at the kill that left their source: the
  // last entry a log the journal names had begun, where a move on one
  // volume needs no record of its own. `done` are the files the records
  // told of.
  std::vector<std::string> InFlight(const std::set<std::string>& done) const;

  RecoveryLog& log_;
  Recovery& recovery_;
  const JournalKey& key_;
  JournalText journal_;
  std::wstring source_root_, target_root_;  // "\\?\" form, ending with "\"
  Handle source_handle_, target_handle_;    // held while the journal is acted on
};

bool KilledRun::Read(HANDLE file, const FileIdentity& holder, std::string& why) {
  std::string text;
  if (!ReadBounded(file, kLargestJournal, text)) {
    why = "it cannot be read whole";
    return false;
  }
  if (!ReadJournal(text, '\\', key_, journal_, why)) return false;
  if (journal_.source_root.empty()) return true;  // killed as it was made
  if (!IsWindowsFolder(journal_.below)) {
    why = "its roots are not as written";
    return false;
  }
  for (const JournalRecord& record : journal_.records) {
    if (record.kind == 'K' || record.kind == 'W' || record.kind == 'X' || record.kind == 'U' ||
        record.kind == 'N') {
      why = "a record of a kind this system never writes";
      return false;
    }
    if (!IsWindowsFolder(record.source) || !IsWindowsFolder(record.target) ||
        !IsWindowsName(record.name)) {
      why = "a record names what no Windows folder holds";
      return false;
    }
  }
  target_root_ = LongPath(journal_.target_root);
  source_root_ = LongPath(journal_.source_root);
  if (!target_root_.empty()) target_handle_ = OpenFolder(target_root_, true);
  if (!target_handle_.IsValid() || HandleIdentity(target_handle_.get()) != holder) {
    why = kAnotherFolder;
    return false;
  }
  if (!source_root_.empty()) source_handle_ = OpenFolder(source_root_, true);
  const FileIdentity source =
      source_handle_.IsValid() ? HandleIdentity(source_handle_.get()) : FileIdentity{};
  if (source == FileIdentity{}) {
    why = "its source folder cannot be opened (" +
          ErrorText(source_root_.empty() ? ERROR_BAD_PATHNAME : LastError()) + ")";
    return false;
  }
  if (source == holder) {
    why = "its source folder is the folder that holds it";
    return false;
  }
  for (const JournalRecord& record : journal_.records) {
    if (record.kind != 'T' && !log_.IsEntryFor(record.entry, record.source + record.name,
                                               journal_.target_root + journal_.below)) {
      why = "a move's log entry is not as the run writes it";
      return false;
    }
  }
  return true;
}

void KilledRun::RemoveTemporary(const JournalRecord& record) {
  // Only a name this program gives its temporaries, however the journal
  // came to hold another.
  if (!IsRandomName(record.name, kTemporaryPrefix)) return;
  const HeldFolder folder(target_root_, record.target);
  if (folder.error() != 0) return;
  // Without sharing: should anyone have it open, it stays.
  const Handle file = OpenToDelete(folder.Path(record.name), 0);
  FILE_BASIC_INFO basic;
  if (file.IsValid() &&
      ::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteOpenFile(file.get(), basic.FileAttributes);
  }
}

bool KilledRun::FinishMove(const JournalRecord& record) {
  const HeldFolder source_folder(source_root_, record.source);
  const HeldFolder target_folder(target_root_, record.target);
  if (target_folder.error() != 0) {
    // No copy can stand where its folder is missing; one that cannot be
    // looked at is left with its source.
    if (!IsMissing(target_folder.error())) ++recovery_.left;
    return false;
  }
  const std::wstring copy_path = target_folder.Path(record.name);
  const bool copy_there = ::GetFileAttributesW(copy_path.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (source_folder.error() != 0) {
    if (IsMissing(source_folder.error())) return copy_there;  // gone with its folder: it moved
    ++recovery_.left;
    return false;
  }
  // Held against writers while it is compared, and deleted through that
  // handle: what goes is the very file found equal.
  const Handle source(::CreateFileW(
      source_folder.Path(record.name).c_str(), GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES,
      FILE_SHARE_READ, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!source.IsValid()) {
    if (IsMissing(::GetLastError())) return copy_there;  // gone while its copy stands: it moved
    ++recovery_.left;
    return false;
  }
  const Handle copy(
      ::CreateFileW(copy_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!copy.IsValid()) {
    if (!IsMissing(::GetLastError())) ++recovery_.left;
    return false;  // never placed: the source stays where it is
  }
  // The source goes only when its copy is another file, and its equal.
  const FileIdentity source_identity = HandleIdentity(source.get());
  if (source_identity == FileIdentity{} || source_identity == HandleIdentity(copy.get())) {
    return false;
  }
  DWORD attributes = 0;
  if (Equal(source.get(), copy.get(), attributes) &&
      DeleteOpenFile(source.get(), attributes) == 0) {
    return true;
  }
  ++recovery_.left;  // changed since, or a link: both stay
  return false;
}

std::vector<std::string> KilledRun::InFlight(const std::set<std::string>& done) const {
  std::vector<std::string> entries;
  std::set<std::string> seen;
  for (const LogMark& mark : journal_.logs) {
    std::string line, relative, entry;
    if (!CutLastLineOf(mark, line) ||
        !log_.BegunEntry(line, journal_.target_root + journal_.below, relative, entry) ||
        done.count(relative) != 0 || !seen.insert(relative).second) {
      continue;
    }
    const std::size_t slash = relative.rfind('\\');
    const std::string folder = slash == std::string::npos ? "" : relative.substr(0, slash + 1);
    const std::string name = relative.substr(folder.size());
    if (!IsRelativeFolder(folder, '\\') || !IsWindowsFolder(folder) || !IsPlainName(name, '\\') ||
        !IsWindowsName(name)) {
      continue;
    }
    // Gone from its source, its folder too maybe (removed once emptied),
    // and there at its new place.
    const HeldFolder source(source_root_, folder);
    bool gone = IsMissing(static_cast<DWORD>(source.error()));
    if (source.error() == 0) {
      gone = ::GetFileAttributesW(source.Path(name).c_str()) == INVALID_FILE_ATTRIBUTES &&
             IsMissing(::GetLastError());
    }
    const HeldFolder target(target_root_, journal_.below + folder);
    if (gone && target.error() == 0 &&
        ::GetFileAttributesW(target.Path(name).c_str()) != INVALID_FILE_ATTRIBUTES) {
      entries.push_back(entry);
    }
  }
  return entries;
}

bool KilledRun::Finish(HANDLE file) {
  if (journal_.source_root.empty()) return true;
  // What a kill cut short is taken back, so that what this run appends
  // follows whole records; then this run's log is named before anything is
  // done, so that the entries it writes are found by whoever finishes after
  // a kill of this run.
  const LogMark mark = log_.Mark();
  if (!Seek(file, journal_.whole) || !::SetEndOfFile(file)) return false;
  if (!mark.path.empty()) {
    const std::string record = SealRecords(key_, LogRecord(mark), journal_.chain);
    DWORD written = 0;
    if (!::WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) ||
        written != record.size()) {
      return false;
    }
  }
  for (const JournalRecord& record : journal_.records) {
    if (record.kind == 'T') RemoveTemporary(record);
  }
  // A move's last record tells how far it went.
  std::vector<std::string> moved;
  std::set<std::string> done;
  for (const std::size_t index : LastRecordOfEachMove(journal_.records)) {
    const JournalRecord& record = journal_.records[index];
    done.insert(record.source + record.name);
    if (FinishMove(record)) moved.push_back(record.entry);
  }
  for (std::string& entry : InFlight(done)) moved.push_back(std::move(entry));
  // Each move that left its source is logged once: where no log the journal
  // names holds its entry yet, this run's does.
  const std::unordered_set<std::string> logged = LoggedLines(journal_.logs);
  std::vector<std::string> entries;
  for (std::string& entry : moved) {
    if (logged.count(entry) == 0) entries.push_back(std::move(entry));
  }
  if (!entries.empty() && !log_.Write(entries)) return false;
  recovery_.logged += entries.size();
  for (const LogMark& logged_in : journal_.logs) DropCutLastLine(logged_in);
  return true;
}

}  // namespace

namespace {

// The killed runs' journals in `folder` (shown as `shown`), those for the
// target folder `identity`: where `own` (this user's journal folder), the
// journals of runs into other folders are not this run's to finish, and
// stay without a word.
void RecoverIn(const std::wstring& folder, const std::string& shown, const FileIdentity& identity,
               bool own, RecoveryLog& log, Recovery& recovery) {
  std::vector<std::pair<std::wstring, DWORD>> journals;
  {
    WIN32_FIND_DATAW data;
    const std::wstring pattern = folder + Widen(kJournalPrefix) + L"*";
    const SearchHandle search(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                                 FindExSearchNameMatch, nullptr, 0));
    if (!search.IsValid()) return;
    do {
      if (IsRandomName(Narrow(data.cFileName), kJournalPrefix)) {
        journals.emplace_back(data.cFileName, data.dwFileAttributes);
      }
    } while (::FindNextFileW(search.get(), &data));
  }
  // Only a journal sealed with this user's key is this user's run's,
  // whatever owner and access list its file system shows.
  std::string no_key;
  const JournalKey* key = journals.empty() ? nullptr : UserJournalKey(no_key);
  for (const auto& [name, attributes] : journals) {
    std::string why;
    Handle journal;
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      why = "not a regular file";
    } else {
      // A live run holds its journal without sharing: the open fails. Held
      // here the same way, one killed run's journal is finished by one run.
      // Without following a link; a device never waits here, as it is no
      // file on a disk.
      journal.Reset(::CreateFileW((folder + name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      if (!journal.IsValid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) continue;  // live
        if (IsMissing(error)) continue;  // its run ended meanwhile
        why = ErrorText(static_cast<int>(error));
      } else {
        why = Stranger(journal.get());
      }
    }
    if (why.empty() && key == nullptr) why = "this user's journal key cannot be read: " + no_key;
    if (!why.empty()) {
      recovery.refused.push_back({shown + Narrow(name), why});
      continue;
    }
    KilledRun run(log, recovery, *key);
    if (run.Read(journal.get(), identity, why) && run.Finish(journal.get())) {
      FILE_DISPOSITION_INFO dispose{TRUE};
      ::SetFileInformationByHandle(journal.get(), FileDispositionInfo, &dispose, sizeof dispose);
    } else if (!why.empty() && !(own && why == kAnotherFolder)) {
      recovery.refused.push_back({shown + Narrow(name), why});
    }
  }
}

}  // namespace

Recovery RecoverKilledRuns(const std::string& root, RecoveryLog& log) {
  Recovery recovery;
  const std::wstring given = WithBackslash(SystemPath(root));
  if (given.empty()) return recovery;
  // The folder is held against renaming while its journals are read, and
  // named as the system names it, so that no path below leads elsewhere.
  const Handle holder = OpenFolder(given, true);
  const FileIdentity identity = holder.IsValid() ? HandleIdentity(holder.get()) : FileIdentity{};
  const std::wstring folder = holder.IsValid() ? WithBackslash(FinalPath(holder.get())) : L"";
  if (identity == FileIdentity{} || folder.empty()) return recovery;
  const std::string shown = root.ends_with('\\') || root.ends_with('/') ? root : root + '\\';
  RecoverIn(folder, shown, identity, false, log, recovery);
  // And those a run into this folder kept in this user's own folder, as the
  // folder took none.
  std::string why;
  const std::wstring own = UserJournalFolder(why, false);
  const Handle own_handle = own.empty() ? Handle() : OpenFolder(own, false);
  if (own_handle.IsValid() && HandleIdentity(own_handle.get()) != identity) {
    RecoverIn(own, UserStateFolder() + "\\qor\\journals\\", identity, true, log, recovery);
  }
  return recovery;
}

}  // namespace qor::platform
