#pragma once

// A run's journal on Windows: what the run made that a kill would leave
// behind (temporaries, and copies in place whose source is still there). It
// lies in the run's target folder (in this user's own folder where that
// takes no file of the program's), held open without any sharing for as long
// as the run lives, and goes when the run ends; a journal that opens is a
// killed run's, and the next run that writes there finishes its work.

#include <functional>
#include <mutex>
#include <string>

#include "platform/files.h"
#include "platform/journal_key.h"
#include "platform/win32/owned_handle.h"

namespace qor::platform {

// Makes the file `path` ("\\?\" form) as a journal is made: new, held
// without sharing, owned by the user the process runs as and open to that
// user alone. Invalid, with the system's error, when it cannot be.
Handle CreateJournalFile(const std::wstring& path);

// This user's own folder for the journals of runs into target folders that
// take no file of the program's: %LOCALAPPDATA%\qor\journals\ ("\\?\" form,
// ending with "\"), made where missing when `make`, each folder of the
// program's there this user's alone. Empty, with why (empty when it is only
// missing and not to be made), when it cannot be used.
std::wstring UserJournalFolder(std::string& why, bool make = true);

// Why the open file `file` cannot be a journal that a run of this user
// made, or empty when it may be one: a file on a disk (no folder, no link,
// no device), owned by this user, open to no other user, with no further
// name, no larger than a journal. `file` needs read access.
std::string Stranger(HANDLE file);

// Why someone other than this user, the system or the administrators could
// have written the open file `file` (READ_CONTROL): a file on a disk with
// one name, owned by one of them, that no one else may change; empty when
// no one could have.
std::string WrittenByOthers(HANDLE file);

class RunJournal {
 public:
  // The journal of this run in the folder `root` ("\\?\" form, ending with
  // "\"), whose open handle is `root_handle` (null when it could not be
  // opened), made when first written. The files come from below
  // `source_root` and go below `below` ("" or "name\"), and `log` tells
  // where the run log stands.
  RunJournal(std::wstring root, HANDLE root_handle, std::string source_root,
             std::function<LogMark()> log, std::string below = {});
  // The run is over: what it recorded has been dealt with, unless kept.
  ~RunJournal();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // Makes the journal now and names the run log in it, so that a later run
  // finds the entry of the file in flight at a kill even where no move
  // needs a record; Problem tells when it cannot be made.
  void Start();
  // Before the temporary `path` (below the root) is made.
  void Temporary(const std::wstring& path);
  // Before the copy `to` (below the root) is put in place while its source
  // `from` (below the source folder, of the same name) still exists; `entry`
  // is the run log's entry for the file once it has moved. Held until Sync,
  // which must follow before the copy is placed: it must never be found
  // without the journal.
  void Placing(const std::wstring& from, const std::wstring& to, const std::string& entry);
  // Writes the records held and brings what was recorded to the disk;
  // answers Lost().
  int Sync();
  // The error with which a journal that was kept could not be written or
  // brought to the disk any more (a full disk): what it was to record since
  // is on no disk, so no copy may be placed after it. 0 while it is kept,
  // and where it stopped for any other reason or could not be made (the run
  // goes on without one, and says so).
  int Lost();
  // Everything recorded so far has been dealt with: the journal starts
  // afresh, so that it stays as small as one batch. Not once kept.
  void Clear();
  // What the journal names can no longer be dealt with by this run (the
  // run log would not take the entries of moves made): from now on it is
  // never emptied, and it stays when the run ends, for a later run to
  // finish.
  void Keep();
  // Why no journal is kept, empty while one is.
  std::string Problem();

 private:
  bool Ready();
  // Makes the journal's file and writes its roots; false once Fail said why.
  bool Make();
  // Writes `records` after those held, in one write; the mutex is held.
  void WriteLocked(std::string records);
  // Stops keeping the journal, and says why.
  void Fail(const std::string& why, DWORD error);
  // As Fail, for a journal that was kept: it is lost (see Lost).
  void Lose(const std::string& why, DWORD error);
  // Cuts the journal back to `size` bytes, the next write going there.
  bool CutTo(std::uint64_t size);

  std::wstring root_;
  HANDLE root_handle_;
  std::string source_root_;  // as given
  std::function<LogMark()> log_;
  std::string below_;
  std::wstring source_given_;        // the source folder's path as given, "\\?\" form
  std::wstring source_final_;        // and as the system names it now
  bool mark_due_ = true;             // the log's place goes before the next records
  std::uint64_t whole_ = 0;          // the size up to the last record written whole
  std::uint64_t header_ = 0;         // the size of the roots, and the log's place at the start
  const JournalKey* key_ = nullptr;  // this user's, read as the journal is made
  std::string chain_;                // the seal of the last record written whole
  std::string header_chain_;         // and of the header's last
  std::string problem_;
  std::mutex mutex_;  // copies made side by side record their temporaries
  Handle file_;
  bool failed_ = false;  // no journal kept any more: the moves go on without
  bool kept_ = false;    // it was made and named the roots
  int lost_ = 0;         // as Lost()
  bool keep_ = false;    // as Keep()
  std::string held_;
};

}  // namespace qor::platform
