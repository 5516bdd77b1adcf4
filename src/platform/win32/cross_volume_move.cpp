#include "platform/win32/cross_volume_move.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/temporary_names.h"
#include "platform/win32/listing.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/test_seams.h"
#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

std::uint64_t Ticks(const LARGE_INTEGER& time) {
  return static_cast<std::uint64_t>(time.QuadPart);
}

int ReadFacts(HANDLE file, Facts& facts) {
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO basic;
  if (!::GetFileInformationByHandle(file, &info) ||
      !::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
    return LastError();
  }
  facts.identity = {info.dwVolumeSerialNumber,
                    (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  facts.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  facts.last_write = Ticks(basic.LastWriteTime);
  facts.change = Ticks(basic.ChangeTime);
  facts.attributes = basic.FileAttributes;
  return 0;
}

// Whether the file at `copy` holds the very bytes of the open `source`,
// read from its start.
bool SameBytes(HANDLE source, const std::wstring& copy) {
  const Handle placed(::CreateFileW(
      copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN,
      nullptr));
  LARGE_INTEGER start{};
  if (!placed.IsValid() || !::SetFilePointerEx(source, start, nullptr, FILE_BEGIN)) return false;
  std::vector<char> a(1 << 16), b(1 << 16);
  for (;;) {
    DWORD got_a = 0, got_b = 0;
    if (!::ReadFile(source, a.data(), static_cast<DWORD>(a.size()), &got_a, nullptr)) return false;
    // A read from a file ends early only at its end.
    while (got_b < got_a) {
      DWORD more = 0;
      if (!::ReadFile(placed.get(), b.data() + got_b, got_a - got_b, &more, nullptr) || more == 0) {
        return false;
      }
      got_b += more;
    }
    if (std::memcmp(a.data(), b.data(), got_a) != 0) return false;
    if (got_a == 0) {
      char extra;
      DWORD more = 0;
      return ::ReadFile(placed.get(), &extra, 1, &more, nullptr) && more == 0;
    }
  }
}

// Deletes a temporary this move made, read-only or not.
void DeleteOwnFile(const std::wstring& path) {
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileW(path.c_str());
}

// Removes the copy at `path` again, if it is still the one this move made.
void RemoveCopy(const std::wstring& path, const FileIdentity& copy) {
  const Handle file = OpenToDelete(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  Facts now;
  if (file.IsValid() && ReadFacts(file.get(), now) == 0 && now.identity == copy) {
    DeleteOpenFile(file.get(), now.attributes);
  }
}

// Brings the copy `path` to the disk, its name with it, and reads its facts
// into `facts` when given. A read-only copy is opened for writing only with
// that attribute lifted for the moment; `known` are its attributes where the
// caller knows them. Others may read it meanwhile (a virus scanner looking
// at a new file), so that they do not fail the move.
int FlushCopy(const std::wstring& path, Facts* facts = nullptr,
              DWORD known = INVALID_FILE_ATTRIBUTES) {
  const DWORD attributes =
      known != INVALID_FILE_ATTRIBUTES ? known : ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
  const bool read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (read_only && !::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    return LastError();
  }
  int error = 0;
  {
    const Handle file(::CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                    nullptr));
    if (!file.IsValid() || !::FlushFileBuffers(file.get())) {
      error = LastError();
    } else if (facts != nullptr) {
      error = ReadFacts(file.get(), *facts);
    }
  }
  if (read_only && !::SetFileAttributesW(path.c_str(), attributes) && error == 0) {
    error = LastError();
  }
  return error;
}

// The copy must be the source as it was when the copy began: same size, same
// last write as far as the target's file system keeps it.
int CheckCopy(const Facts& source, const Facts& copied) {
  const std::uint64_t apart = copied.last_write > source.last_write
                                  ? copied.last_write - source.last_write
                                  : source.last_write - copied.last_write;
  return copied.size != source.size || apart > kCoarsestWriteTime ? kChangedDuringMove : 0;
}

// Whether the open `file` was deleted, its name perhaps still shown until
// the last handle to it closes.
bool DeletePending(HANDLE file) {
  FILE_STANDARD_INFO standard{};
  return ::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) &&
         standard.DeletePending;
}

OVERLAPPED HoldRange() {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(kHeldByte);
  at.OffsetHigh = static_cast<DWORD>(kHeldByte >> 32);
  return at;
}

// The sources this process holds against other runs, by identity: the
// names of one file (hard links) share one hold, as a lock taken again
// through another handle would find the first in its way.
std::mutex held_mutex;
std::map<std::pair<std::uint64_t, std::uint64_t>, std::weak_ptr<Handle>> held_sources;

// Holds `from` (`identity`, open for its copy) against other runs of this
// program into `held`, through a handle that lets anyone else read, write
// and delete, so that the removal of the source later meets no hold of its
// own; 0, or kInUseByAnotherRun where another run holds it, or held it and
// moved it meanwhile (its name no longer leads to it). Where the file
// system keeps no locks nothing can be told, and the move goes on.
int HoldSource(const std::wstring& from, const FileIdentity& identity,
               std::shared_ptr<Handle>& held) {
  const std::lock_guard lock(held_mutex);
  const std::pair<std::uint64_t, std::uint64_t> key{identity.device, identity.inode};
  std::weak_ptr<Handle>& slot = held_sources[key];
  if ((held = slot.lock())) return 0;
  auto hold = std::make_shared<Handle>(::CreateFileW(
      from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  Facts now;
  if (!hold->IsValid() || ReadFacts(hold->get(), now) != 0 || now.identity != identity) {
    held_sources.erase(key);
    return kInUseByAnotherRun;
  }
  OVERLAPPED at = HoldRange();
  if (!::LockFileEx(hold->get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &at)) {
    const DWORD error = ::GetLastError();
    held_sources.erase(key);
    return error == ERROR_LOCK_VIOLATION ? kInUseByAnotherRun : 0;
  }
  if (DeletePending(hold->get())) {
    held_sources.erase(key);
    return kInUseByAnotherRun;
  }
  held = std::move(hold);
  slot = held;
  if (held_sources.size() > 4096) {
    std::erase_if(held_sources, [](const auto& s) { return s.second.expired(); });
  }
  return 0;
}

thread_local CopyProgressCheck* current_check = nullptr;
thread_local const std::atomic<bool>* current_cancel = nullptr;

// A move that fails has dealt with what it recorded: its copy is gone, its
// source stays. One made is let go of by its caller once its log holds it.
struct ClearAtEnd {
  RunJournal* journal;
  bool made = false;
  ~ClearAtEnd() {
    if (journal != nullptr && !made) journal->Clear();
  }
};

void Step(test_seams::AcrossVolumesStep step) {
  if (test_seams::across_volumes_step != nullptr) test_seams::across_volumes_step(step);
}

}  // namespace

bool HeldByAnotherRun(const std::wstring& from) {
  const Handle probe(::CreateFileW(
      from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  OVERLAPPED at = HoldRange();
  if (!probe.IsValid()) return false;
  if (::LockFileEx(probe.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &at)) {
    at = HoldRange();
    ::UnlockFileEx(probe.get(), 0, 1, 0, &at);
    return false;
  }
  return ::GetLastError() == ERROR_LOCK_VIOLATION;
}

Handle OpenToDelete(const std::wstring& path, DWORD share) {
  return Handle(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              share, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

int DeleteOpenFile(HANDLE file, DWORD attributes) {
  const bool read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (read_only) {
    FILE_BASIC_INFO basic{};  // times left at zero stay as they are
    basic.FileAttributes = attributes & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic)) {
      return LastError();
    }
  }
  FILE_DISPOSITION_INFO dispose{TRUE};
  if (::SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose)) return 0;
  const int error = LastError();
  if (read_only) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes;
    ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
  }
  return error;
}

// Called by CopyFileExW on the calling thread, between the pieces it copies.
// It is a wall: nothing thrown may unwind through the system's frames.
struct CopyProgress {
  static DWORD CALLBACK Routine(LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, LARGE_INTEGER, DWORD,
                                DWORD, HANDLE, HANDLE, LPVOID) noexcept {
    if (current_cancel != nullptr && current_cancel->load()) return PROGRESS_CANCEL;
    CopyProgressCheck* check = current_check;
    if (check == nullptr) return PROGRESS_CONTINUE;
    const std::uint64_t now = ::GetTickCount64();
    if (now - check->last_asked_ < 50) return PROGRESS_CONTINUE;
    check->last_asked_ = now;
    try {
      if (check->keep_going_()) return PROGRESS_CONTINUE;
      check->stopped_ = true;
    } catch (...) {
      check->failure_ = std::current_exception();
    }
    return PROGRESS_CANCEL;  // the copy is deleted by CopyFileExW itself
  }

  // Throws, from C++ frames, what the routine caught during the last copy.
  static void RethrowFailure() {
    CopyProgressCheck* check = current_check;
    if (check != nullptr && check->failure_) {
      std::rethrow_exception(std::exchange(check->failure_, nullptr));
    }
  }
};

CopyProgressCheck::CopyProgressCheck(const std::function<bool()>& keep_going, bool verify)
    : keep_going_(keep_going),
      outer_(current_check),
      last_asked_(::GetTickCount64()),
      verify_(verify) {
  current_check = this;
}

CopyProgressCheck::~CopyProgressCheck() {
  current_check = outer_;
}

CopyCancel::CopyCancel(const std::atomic<bool>& cancel) : outer_(current_cancel) {
  current_cancel = &cancel;
}

CopyCancel::~CopyCancel() {
  current_cancel = outer_;
}

Outcome VolumeCopy::Make(const std::wstring& from, const std::wstring& to, RunJournal* journal) {
  const std::size_t slash = to.rfind(L'\\');
  if (slash == std::wstring::npos || slash + 1 == to.size()) return {ERROR_BAD_PATHNAME};
  const std::wstring folder = to.substr(0, slash + 1);
  if (journal != nullptr) {
    if (const int lost = journal->Lost()) return {lost};
  }

  // Held open with read sharing only from the copy to the removal: nobody
  // can write, rename or delete it meanwhile, and one that is open for
  // writing now (being saved) is not moved at all.
  source_.Reset(::CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!source_.IsValid()) {
    const int error = LastError();
    return {error == ERROR_SHARING_VIOLATION && HeldByAnotherRun(from) ? kInUseByAnotherRun
                                                                       : error};
  }
  int held = ReadFacts(source_.get(), before_);
  // Held from before its copy begins until it is gone or kept: another run
  // of this program that reached it first is left to move it, rather than
  // both copying it and both keeping their copies.
  if (held == 0) held = HoldSource(from, before_.identity, held_);
  if (held != 0) {
    source_.Reset();
    return {held};
  }
  // A folder put in the file's place since the listing is never copied
  // whole; only a link to a folder goes, as the link.
  if ((before_.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    const bool tagged =
        ::GetFileInformationByHandleEx(source_.get(), FileAttributeTagInfo, &tag, sizeof tag) != 0;
    if (!tagged || !IsLinkReparsePoint(before_.attributes, tag.ReparseTag)) {
      source_.Reset();
      return {kIsAFolder};
    }
  }
  // Refuse early rather than copy a large file only to find the name taken;
  // a small one is found out as cheaply when it is put in place.
  constexpr std::uint64_t kSmallFile = 1 << 17;
  if (before_.size > kSmallFile && ::GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES) {
    source_.Reset();
    return {ERROR_ALREADY_EXISTS};
  }

  const test_seams::CopyFileFunction copy_file =
      test_seams::copy_file != nullptr ? test_seams::copy_file : &::CopyFileExW;
  std::wstring temporary;
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 16 && error == ERROR_FILE_EXISTS; ++attempt) {
    temporary = folder + Widen(RandomName(kTemporaryPrefix));
    if (journal != nullptr) journal->Temporary(temporary);
    // A link is copied as a link, never what it leads to.
    error = copy_file(from.c_str(), temporary.c_str(), &CopyProgress::Routine, nullptr, nullptr,
                      COPY_FILE_FAIL_IF_EXISTS | COPY_FILE_COPY_SYMLINK)
                ? 0
                : ::GetLastError();
  }
  if (error != 0) {
    // A copy broken off part-way may have left its file.
    if (error != ERROR_FILE_EXISTS) DeleteOwnFile(temporary);
    CopyProgress::RethrowFailure();
    return {static_cast<int>(error)};
  }
  from_ = from;
  to_ = to;
  temporary_ = temporary;
  return {};
}

int VolumeCopy::Flush() {
  Facts copied;
  // The copy has the source's attributes, but for the archive mark and, on
  // some systems, a hidden one for its "."-name: only read-only matters here.
  const DWORD known = (before_.attributes & FILE_ATTRIBUTE_READONLY) != 0 ? INVALID_FILE_ATTRIBUTES
                                                                          : FILE_ATTRIBUTE_NORMAL;
  int failed = FlushCopy(temporary_, &copied, known);
  if (failed == 0) failed = CheckCopy(before_, copied);
  copy_ = copied.identity;
  if (failed != 0) {
    Discard();
    return failed;
  }
  Step(test_seams::AcrossVolumesStep::Copied);
  return 0;
}

Outcome VolumeCopy::Place() {
  Step(test_seams::AcrossVolumesStep::Placing);
  // The final name, without replacing what may have appeared there meanwhile.
  if (!::MoveFileExW(temporary_.c_str(), to_.c_str(), MOVEFILE_WRITE_THROUGH)) {
    const int failed = LastError();
    Discard();
    return {failed};
  }
  temporary_.clear();
  placed_ = true;
  return {};
}

int VolumeCopy::FlushPlaced() {
  // The new name must be on the disk before the source goes from the other
  // one: after a power cut the copy would otherwise be left under its
  // temporary name alone.
  const int failed = FlushCopy(to_);
  if (failed != 0) Discard();
  return failed;
}

int VolumeCopy::Verify() {
  if (SameBytes(source_.get(), to_)) return 0;
  Discard();
  return kCopyDiffers;
}

std::wstring VolumeCopy::Folder() const {
  return to_.substr(0, to_.rfind(L'\\') + 1);
}

int FlushFolder(const std::wstring& folder) {
  const Handle handle(::CreateFileW(folder.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.IsValid() || !::FlushFileBuffers(handle.get())) return LastError();
  return 0;
}

Outcome VolumeCopy::RemoveSource() {
  // It is opened again to be deleted through that handle, so that whatever
  // may be saved under its name from now on is never what goes; between the
  // two opens a writer could have come, so it goes only when it is still the
  // very file copied, unchanged.
  source_.Reset();
  Step(test_seams::AcrossVolumesStep::Placed);
  const Handle taken = OpenToDelete(from_, FILE_SHARE_READ);
  const int opened = taken.IsValid() ? 0 : LastError();
  if (opened == ERROR_FILE_NOT_FOUND ||
      (opened != 0 && held_ != nullptr && DeletePending(held_->get()))) {
    // Someone else removed the source while its copy stood in place,
    // durable (no run of this program can have: this one holds it; its name
    // may show until the hold lets go): the copy may be all there is of the
    // file now, and it stays.
    placed_ = false;
    held_.reset();
    Step(test_seams::AcrossVolumesStep::Removed);
    return {};
  }
  if (opened != 0 && ::GetFileAttributesW(from_.c_str()) == INVALID_FILE_ATTRIBUTES) {
    // Neither to be opened nor seen under its name (deleted by another
    // where the system tells no pending deletion): the copy may be all
    // there is of the file, and stays; the move is not called made.
    placed_ = false;
    held_.reset();
    return {opened};
  }
  Facts now;
  int failed = taken.IsValid() ? ReadFacts(taken.get(), now) : opened;
  if (failed == 0 && now != before_) failed = kChangedDuringMove;
  if (failed == 0) failed = DeleteOpenFile(taken.get(), now.attributes);
  if (failed != 0) {
    Discard();
    return {failed};
  }
  placed_ = false;  // the copy is the file now
  held_.reset();
  Step(test_seams::AcrossVolumesStep::Removed);
  return {};
}

void VolumeCopy::Discard() {
  if (!temporary_.empty()) DeleteOwnFile(temporary_);
  if (placed_) RemoveCopy(to_, copy_);
  temporary_.clear();
  placed_ = false;
  source_.Reset();
  held_.reset();
}

Outcome MoveAcrossVolumes(const std::wstring& from, const std::wstring& to, RunJournal* journal,
                          const std::string& entry) {
  ClearAtEnd clear{journal};
  VolumeCopy copy;
  if (Outcome made = copy.Make(from, to, journal); !made.ok()) return made;
  if (const int failed = copy.Flush()) return {failed};
  if (journal != nullptr) {
    journal->Placing(from, to, entry);
    if (const int lost = journal->Sync()) {
      copy.Discard();
      return {lost};
    }
  }
  if (Outcome placed = copy.Place(); !placed.ok()) return placed;
  if (const int failed = copy.FlushPlaced()) return {failed};
  if (current_check != nullptr && current_check->verify_) {
    if (const int failed = copy.Verify()) return {failed};
  }
  // Only now, with the copy in place and on disk, does the source go.
  const Outcome removed = copy.RemoveSource();
  clear.made = removed.ok();
  return removed;
}

}  // namespace qor::platform
