#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/run_journal.h"

namespace qor::platform {

// The move of a file or link onto another volume. The source is held open
// against writers while it is copied into a "."-prefixed temporary in the
// destination folder (attributes, times and alternate data streams go with
// it); the copy is flushed, checked against the source, and renamed to its
// name without replacing. Only then is the source removed, through a handle
// of its own, and only when it is still the very file copied, unchanged. On
// any failure the temporary (and a renamed copy) is removed and the source is
// left as it was. Both paths are in "\\?\" form. `journal`, when given,
// records each step a kill could leave half done, the placed copy with the
// log's `entry`; it is cleared when the move fails, and once the log holds
// a move made, by the caller.
Outcome MoveAcrossVolumes(const std::wstring& from, const std::wstring& to,
                          RunJournal* journal = nullptr, const std::string& entry = {});

// The byte of a source that a run locks (LockFileEx) from before its copy
// begins until it is gone or kept, so that another run leaves the file to
// it: far past any end, where no reader or writer of the file meets it.
inline constexpr std::uint64_t kHeldByte = 0x7FFFFFFFFFFFFFFE;

// What must stay the same between the start of the copy and the removal of
// the source for the source to be the file that was copied, unchanged.
struct Facts {
  FileIdentity identity;
  std::uint64_t size = 0;
  std::uint64_t last_write = 0;
  std::uint64_t change = 0;  // any write or change of attributes shows here
  DWORD attributes = 0;
  bool operator==(const Facts&) const = default;
};

// One file or link on its way to another volume, in the steps that a batch
// of moves can take for many files at once. Each step that fails undoes
// what the move had made (the temporary, or the copy in place) and leaves
// the source as it was.
class VolumeCopy {
 public:
  // Holds `from` open against writers and copies it into a "."-prefixed
  // temporary beside `to`, named in `journal` first. Refuses a `to` that
  // exists already.
  Outcome Make(const std::wstring& from, const std::wstring& to, RunJournal* journal);
  // Brings the temporary to the disk and checks it against the source.
  int Flush();
  // Names the copy about to be placed, with the log's `entry`, in `journal`;
  // the journal is synced before Place.
  void RecordPlacing(RunJournal& journal, const std::string& entry) const {
    journal.Placing(from_, to_, entry);
  }
  // Puts the temporary in place under its name, never replacing anything.
  Outcome Place();
  // Brings the copy under its new name to the disk.
  int FlushPlaced();
  // Reads the copy in place back and compares it with the source.
  int Verify();
  // The folder the copy goes to, ending with "\".
  std::wstring Folder() const;
  // Removes the source, once the copy is in place and durable, only if it
  // is still the very file copied, unchanged; otherwise the copy goes. A
  // source someone else removed meanwhile leaves the copy: it is the file.
  Outcome RemoveSource();
  // Removes what there is of the copy and lets the source go.
  void Discard();
  FileIdentity PlacedIdentity() const { return copy_; }

 private:
  std::wstring from_, to_, temporary_;
  Handle source_;
  std::shared_ptr<Handle> held_;  // locked against other runs, shared by its names
  Facts before_;
  FileIdentity copy_;
  bool placed_ = false;
};

// Brings the names in `folder` to the disk, where its file system can
// flush a folder; the system's error where it cannot.
int FlushFolder(const std::wstring& folder);

// FAT keeps the last write to 2 seconds, exFAT to 10 milliseconds: a copy
// there carries its source's time rounded to that, in 100-ns ticks.
inline constexpr std::uint64_t kCoarsestWriteTime = 2 * 10'000'000;

// Whether another run of this program holds `from` (kHeldByte locked), as
// a sharing violation may tell: a run removing its source has it open to
// delete for a moment, which keeps others from opening or renaming it.
bool HeldByAnotherRun(const std::wstring& from);

// Opens `path` itself (never what a link leads to) to delete it.
Handle OpenToDelete(const std::wstring& path, DWORD share);

// Deletes the open file (opened by OpenToDelete) when its handle closes; a
// read-only file too, as a move on one volume would take it. The attributes
// are put back on failure.
int DeleteOpenFile(HANDLE file, DWORD attributes);

// While one of these lives, copies across volumes made on this thread ask
// `keep_going` as they progress, and are broken off (ERROR_REQUEST_ABORTED)
// when it says no. Should it throw, the copy is broken off too, and once it
// is undone (the source as it was, no temporary left) MoveAcrossVolumes
// throws that again. With `verify`, each copy in place and flushed is read
// back and compared with its source before the source goes; one that
// differs goes, and the source stays (kCopyDiffers).
class CopyProgressCheck {
 public:
  explicit CopyProgressCheck(const std::function<bool()>& keep_going, bool verify = false);
  ~CopyProgressCheck();
  CopyProgressCheck(const CopyProgressCheck&) = delete;
  CopyProgressCheck& operator=(const CopyProgressCheck&) = delete;
  // True when a copy was broken off because `keep_going` said no.
  bool stopped() const { return stopped_; }

 private:
  friend struct CopyProgress;
  friend Outcome MoveAcrossVolumes(const std::wstring&, const std::wstring&, RunJournal*,
                                   const std::string&);
  const std::function<bool()>& keep_going_;
  CopyProgressCheck* outer_;
  std::uint64_t last_asked_ = 0;
  bool stopped_ = false;
  bool verify_ = false;
  std::exception_ptr failure_;  // what `keep_going` threw
};

// While one of these lives, copies across volumes made on this thread are
// broken off (ERROR_REQUEST_ABORTED) once `cancel` is set, from any thread:
// for copies made on threads that have no window to ask.
class CopyCancel {
 public:
  explicit CopyCancel(const std::atomic<bool>& cancel);
  ~CopyCancel();
  CopyCancel(const CopyCancel&) = delete;
  CopyCancel& operator=(const CopyCancel&) = delete;

 private:
  const std::atomic<bool>* outer_;
};

}  // namespace qor::platform
