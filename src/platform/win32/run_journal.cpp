#include "platform/win32/run_journal.h"

#include <aclapi.h>

#include <string_view>
#include <vector>

#include "platform/ini_location.h"
#include "platform/journal_key.h"
#include "platform/journal_records.h"
#include "platform/path_parts.h"
#include "platform/temporary_names.h"
#include "platform/win32/listing.h"
#include "platform/win32/test_seams.h"
#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

// The user the process runs as; empty when the system cannot say.
std::vector<BYTE> CurrentUser() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  const Handle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    return {};
  }
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
  std::vector<BYTE> user(::GetLengthSid(sid));
  if (!::CopySid(static_cast<DWORD>(user.size()), user.data(), sid)) return {};
  return user;
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE known[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof known;
  return ::CreateWellKnownSid(type, nullptr, known, &size) && ::EqualSid(sid, known);
}

constexpr DWORD kChange = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                          FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                          GENERIC_ALL;
constexpr DWORD kReadOrChange = kChange | FILE_READ_DATA | GENERIC_READ;

// Why others than `owner` may read or change (`access`) a file with the
// access list `dacl`, or empty when none may. The system itself and the
// machine's administrators may do anything to any file anyway.
std::string OpenToOthers(const ACL* dacl, PSID owner, DWORD access = kReadOrChange) {
  if (dacl == nullptr) return "open to every user";
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(const_cast<ACL*>(dacl), i, &ace)) return "its access list cannot be read";
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    // An entry that only folders pass on to what is made in them, or one
    // that denies, opens nothing.
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 || header->AceType == ACCESS_DENIED_ACE_TYPE) {
      continue;
    }
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return "readable or writable by others";
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if ((allowed->Mask & access) != 0 && !::EqualSid(sid, owner) &&
        !IsWellKnown(sid, WinLocalSystemSid) && !IsWellKnown(sid, WinBuiltinAdministratorsSid)) {
      return "readable or writable by others";
    }
  }
  return {};
}

// `path`'s folder below `root` (both "\\?\" form, `root` ending with "\")
// and its name, as UTF-8; false when it lies elsewhere, or when a name has
// no UTF-8 form and would be recorded as another.
bool Below(const std::wstring& root, const std::wstring& path, std::string& folder,
           std::string& name) {
  if (root.empty() || !path.starts_with(root) || !IsWellFormedUtf16(path)) return false;
  const std::wstring_view rest = std::wstring_view(path).substr(root.size());
  const std::size_t slash = rest.rfind(L'\\');
  folder = slash == std::wstring_view::npos ? std::string() : Narrow(rest.substr(0, slash + 1));
  name = Narrow(slash == std::wstring_view::npos ? rest : rest.substr(slash + 1));
  return IsRelativeFolder(folder, '\\') && IsPlainName(name, '\\');
}

// A path as a journal's roots record it: without the "\\?\" prefix, ending
// with "\"; empty when it has no UTF-8 form.
std::string RecordedFolder(const std::wstring& system_path) {
  if (system_path.empty() || !IsWellFormedUtf16(system_path)) return {};
  return Narrow(WithBackslash(WithoutLongPrefix(system_path)));
}

bool HasControlBytes(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// The owner and access list of the open file `file` into `owner` and
// `dacl`, kept alive by `held`; why not, or empty.
std::string OwnerAndAccess(HANDLE file, PSID& owner, PACL& dacl, LocalMemory& held) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = ::GetSecurityInfo(file, SE_FILE_OBJECT,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        &owner, nullptr, &dacl, nullptr, &descriptor);
  held.Reset(descriptor);
  if (error != ERROR_SUCCESS) return "its owner cannot be read (" + ErrorText(error) + ")";
  return {};
}

void DeleteOpenJournal(HANDLE file) {
  FILE_DISPOSITION_INFO dispose{TRUE};
  ::SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose);
}

// What a file or folder of this user's alone is made with: the user its
// owner, whether the process runs elevated or not, and its access list
// naming the user alone, not what the folder above passes on.
class UserAlone {
 public:
  UserAlone() : user_(CurrentUser()) {
    if (user_.empty()) return;
    const PSID sid = user_.data();
    list_.resize((sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid)) / sizeof(DWORD) +
                 1);
    const auto acl = reinterpret_cast<ACL*>(list_.data());
    made_ = ::InitializeAcl(acl, static_cast<DWORD>(list_.size() * sizeof(DWORD)), ACL_REVISION) &&
            ::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
            ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
            ::SetSecurityDescriptorOwner(&descriptor_, sid, FALSE) &&
            ::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
            ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  }
  // Null when the user or the list cannot be known.
  SECURITY_ATTRIBUTES* Attributes() { return made_ ? &attributes_ : nullptr; }

 private:
  std::vector<BYTE> user_;
  std::vector<DWORD> list_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{sizeof attributes_, &descriptor_, FALSE};
  bool made_ = false;
};

}  // namespace

Handle CreateJournalFile(const std::wstring& path) {
  // A later run trusts nothing else.
  UserAlone alone;
  if (alone.Attributes() == nullptr) return Handle();
  return Handle(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                              alone.Attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::wstring UserJournalFolder(std::string& why, bool make) {
  why.clear();
  const std::string state = UserStateFolder();
  if (state.empty()) {
    why = "no folder for this user's local application data is known";
    return {};
  }
  // Each of the program's folders there this user's alone, made so where
  // missing; a folder another could change, or a link, is not used.
  std::wstring folder = WithBackslash(SystemPath(state));
  std::string shown = state;
  for (const char* name : {"qor", "journals"}) {
    folder += Widen(name) + L"\\";
    shown += std::string("\\") + name;
    if (make && !::CreateDirectoryW(folder.c_str(), UserAlone().Attributes()) &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
      why = shown + " cannot be made (" + ErrorText(LastError()) + ")";
      return {};
    }
    const Handle opened(::CreateFileW(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
    if (!opened.IsValid()) {
      const DWORD error = ::GetLastError();
      if (make || (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)) {
        why = shown + " cannot be opened (" + ErrorText(static_cast<int>(error)) + ")";
      }
      return {};
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    LocalMemory held;
    std::vector<BYTE> user = CurrentUser();
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(opened.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      why = shown + " is a link";
    } else if (std::string owned = OwnerAndAccess(opened.get(), owner, dacl, held);
               !owned.empty()) {
      why = shown + ": " + owned;
    } else if (owner == nullptr || user.empty() || !::EqualSid(owner, user.data())) {
      why = shown + " is owned by another user";
    } else if (std::string open = OpenToOthers(dacl, owner, kChange); !open.empty()) {
      why =
          shown + " is " + (open == "readable or writable by others" ? "writable by others" : open);
    }
    if (!why.empty()) return {};
  }
  return folder;
}

std::string Stranger(HANDLE file) {
  if (::GetFileType(file) != FILE_TYPE_DISK) return "not a file on a disk";
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
      !::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard)) {
    return ErrorText(LastError());
  }
  if ((basic.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      standard.Directory) {
    return "not a regular file";
  }
  // A file system that keeps no owners (FAT, exFAT) shows none that is this
  // user: anyone who reaches the drive could have written the file, so it
  // is never trusted there.
  PSID owner = nullptr;
  PACL dacl = nullptr;
  LocalMemory held;
  if (std::string why = OwnerAndAccess(file, owner, dacl, held); !why.empty()) return why;
  std::vector<BYTE> user = CurrentUser();
  if (owner == nullptr || user.empty() || !::EqualSid(owner, user.data())) {
    return "owned by another user";
  }
  if (std::string open = OpenToOthers(dacl, owner); !open.empty()) return open;
  if (standard.NumberOfLinks != 1) return "it has further names";
  if (static_cast<std::uint64_t>(standard.EndOfFile.QuadPart) > kLargestJournal) {
    return "larger than any journal";
  }
  return {};
}

RunJournal::RunJournal(std::wstring root, HANDLE root_handle, std::string source_root,
                       std::function<LogMark()> log, std::string below)
    : root_(std::move(root)),
      root_handle_(root_handle),
      source_root_(std::move(source_root)),
      log_(std::move(log)),
      below_(std::move(below)) {}

RunJournal::~RunJournal() {
  // Kept, it stays for a later run to finish: closed, no longer held.
  if (file_.IsValid() && !keep_) DeleteOpenJournal(file_.get());
}

void RunJournal::Keep() {
  const std::lock_guard lock(mutex_);
  keep_ = true;
}

bool RunJournal::Ready() {
  if (failed_) return false;
  return file_.IsValid() || Make();
}

bool RunJournal::Make() {
  if (root_handle_ == nullptr || root_handle_ == INVALID_HANDLE_VALUE) {
    Fail("the folder that holds the target folder cannot be opened", 0);
    return false;
  }
  // The roots as the system names them now, so that a later run finds them
  // whatever way this one was given them; the source's given path too, as
  // the folders below it are named from it.
  source_given_ = WithBackslash(SystemPath(source_root_));
  const Handle source = source_given_.empty() ? Handle() : OpenFolder(source_given_, true);
  source_final_ = source.IsValid() ? WithBackslash(FinalPath(source.get())) : std::wstring();
  const std::string source_text = RecordedFolder(source_final_);
  const std::string target_text = RecordedFolder(FinalPath(root_handle_));
  std::string why;
  key_ = UserJournalKey(why);
  if (key_ == nullptr) {
    Fail("this user's journal key cannot be read or made: " + why, 0);
    return false;
  }
  std::string chain;
  const std::string roots =
      SealRecords(*key_, RootsRecord(source_text, target_text, below_), chain);
  JournalText read;
  if (root_.empty() || source_text.empty() || target_text.empty() ||
      !ReadJournal(roots, '\\', *key_, read, why) || read.source_root != source_text ||
      read.below != below_) {
    Fail("the folders' paths cannot be recorded", 0);
    return false;
  }
  // Made and held in one step, without sharing: no other run ever opens it
  // while this one lives, and so never takes it for a killed run's.
  const auto make_in = [](const std::wstring& folder) {
    Handle file;
    for (int attempt = 0; attempt < 16 && !file.IsValid(); ++attempt) {
      const std::wstring path = folder + Widen(RandomName(kJournalPrefix));
      const DWORD refused = test_seams::journal_refused != nullptr
                                ? test_seams::journal_refused(folder)
                                : ERROR_SUCCESS;
      if (refused != ERROR_SUCCESS) {
        ::SetLastError(refused);
        break;
      }
      file = CreateJournalFile(path);
      if (!file.IsValid() && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return file;
  };
  std::string no_folder;  // why this user's own folder cannot take it
  Handle file = make_in(root_);
  DWORD error = ::GetLastError();
  if (!file.IsValid() && (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT)) {
    // A target folder that takes no file of ours (its subfolders may take
    // the moved files): the journal goes into this user's own folder for
    // them, where a later run into this target looks too.
    const std::wstring own = UserJournalFolder(no_folder);
    if (!own.empty()) {
      file = make_in(own);
      error = ::GetLastError();
    }
  }
  if (!file.IsValid()) {
    Fail("it cannot be made in " + target_text + (no_folder.empty() ? "" : ", nor in " + no_folder),
         error);
    return false;
  }
  // What a later run checks before it trusts a journal: where the target's
  // file system cannot keep the file this user's alone (FAT keeps no
  // owners, a share may give it one of its own), none would be trusted, and
  // the run says so now rather than leave one behind.
  if (const std::string stranger = Stranger(file.get()); !stranger.empty()) {
    DeleteOpenJournal(file.get());
    Fail("a later run could not trust it there: " + stranger, 0);
    return false;
  }
  file_ = std::move(file);
  DWORD written = 0;
  if (!::WriteFile(file_.get(), roots.data(), static_cast<DWORD>(roots.size()), &written,
                   nullptr) ||
      written != roots.size()) {
    Fail("it cannot be written", ::GetLastError());
    return false;
  }
  whole_ = header_ = roots.size();
  chain_ = header_chain_ = chain;
  kept_ = true;
  return true;
}

bool RunJournal::CutTo(std::uint64_t size) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  return ::SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file_.get());
}

void RunJournal::Fail(const std::string& why, DWORD error) {
  failed_ = true;
  if (problem_.empty()) {
    problem_ = why + (error != 0 ? " (" + ErrorText(static_cast<int>(error)) + ")" : "");
  }
  // A record written in part is taken back: a later run reads whole ones.
  if (file_.IsValid() && !CutTo(whole_)) CutTo(header_);
}

void RunJournal::Lose(const std::string& why, DWORD error) {
  Fail(why, error);
  if (kept_ && lost_ == 0) {
    lost_ = static_cast<int>(error != 0 ? error : ERROR_WRITE_FAULT);
    problem_ += "; no file was moved to another volume after that";
  }
}

std::string RunJournal::Problem() {
  const std::lock_guard lock(mutex_);
  return problem_;
}

void RunJournal::WriteLocked(std::string records) {
  // One write, so a kill leaves whole records only.
  records.insert(0, held_);
  held_.clear();
  if (records.empty() || !Ready()) return;
  if (mark_due_ && log_) {
    // A log without a path cannot be named; a later run then logs the moves
    // named after this point itself.
    const LogMark mark = log_();
    if (!mark.path.empty()) records.insert(0, LogRecord(mark));
    mark_due_ = false;
  }
  std::string chain = chain_;
  records = SealRecords(*key_, records, chain);
  if (whole_ + records.size() > kLargestJournal) {
    Lose("a batch's records would make it larger than a journal may be", ERROR_FILE_TOO_LARGE);
    return;
  }
  DWORD written = 0;
  const bool wrote = ::WriteFile(file_.get(), records.data(), static_cast<DWORD>(records.size()),
                                 &written, nullptr) != 0;
  if (!wrote || written != records.size()) {
    // A short write sets no error of its own: the disk is full.
    Lose("it cannot be written", wrote ? ERROR_DISK_FULL : ::GetLastError());
    return;
  }
  whole_ += records.size();
  chain_ = std::move(chain);
}

void RunJournal::Start() {
  const std::lock_guard lock(mutex_);
  if (!Ready() || !log_) return;
  const LogMark mark = log_();
  mark_due_ = false;
  if (!mark.path.empty()) WriteLocked(LogRecord(mark));
  // Kept when the journal starts afresh: the log is named there throughout.
  if (!failed_) {
    header_ = whole_;
    header_chain_ = chain_;
  }
}

void RunJournal::Temporary(const std::wstring& path) {
  const std::lock_guard lock(mutex_);
  if (!Ready()) return;
  std::string folder, name;
  if (!Below(root_, path, folder, name)) {
    Fail("a temporary lies outside the target folder", 0);
    return;
  }
  WriteLocked(TemporaryRecord(folder, name));
}

void RunJournal::Placing(const std::wstring& from, const std::wstring& to,
                         const std::string& entry) {
  const std::lock_guard lock(mutex_);
  if (!Ready()) return;
  std::string source, source_name, target, name;
  if ((!Below(source_given_, from, source, source_name) &&
       !Below(source_final_, from, source, source_name)) ||
      !Below(root_, to, target, name) || source_name != name) {
    Fail("a folder of the run no longer lies where it began", 0);
    return;
  }
  if (entry.empty() || HasControlBytes(entry)) {
    Fail("a log entry cannot be recorded", 0);
    return;
  }
  held_ += PlacingRecord(source, target, name, entry);
}

int RunJournal::Sync() {
  const std::lock_guard lock(mutex_);
  WriteLocked({});
  if (file_.IsValid() && !failed_ && !::FlushFileBuffers(file_.get())) {
    Lose("it cannot be brought to the disk", ::GetLastError());
  }
  return lost_;
}

int RunJournal::Lost() {
  const std::lock_guard lock(mutex_);
  return lost_;
}

void RunJournal::Clear() {
  const std::lock_guard lock(mutex_);
  if (keep_) return;
  held_.clear();
  mark_due_ = true;
  if (!file_.IsValid()) return;
  if (CutTo(header_)) {
    whole_ = header_;
    chain_ = header_chain_;
  } else {
    Fail("it cannot be emptied", ::GetLastError());
  }
}

std::string WrittenByOthers(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return "it is no regular file";
  }
  if (info.nNumberOfLinks != 1) return "it has further names, which others may have made";
  PSID owner = nullptr;
  PACL dacl = nullptr;
  LocalMemory held;
  if (std::string why = OwnerAndAccess(file, owner, dacl, held); !why.empty()) return why;
  std::vector<BYTE> user = CurrentUser();
  if (owner == nullptr || user.empty() ||
      (!::EqualSid(owner, user.data()) && !IsWellKnown(owner, WinLocalSystemSid) &&
       !IsWellKnown(owner, WinBuiltinAdministratorsSid))) {
    return "another user owns it";
  }
  if (!OpenToOthers(dacl, owner, kChange).empty()) return "others may write into it";
  return {};
}

}  // namespace qor::platform
