#pragma once

// A run's journal: what the run made or took that a kill would leave behind
// (temporaries, copies in place whose source is still there, sources under a
// private name). It lies in the run's target folder, locked for as long as
// the run lives, and goes when the run ends; a journal found unlocked is a
// killed run's, and the next run that writes there finishes its work.

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/journal_key.h"
#include "platform/journal_records.h"
#include "platform/posix/fd.h"

namespace qor::platform {

// The room a journal keeps for the records of one batch: a batch's records
// of files with paths of ordinary length.
inline constexpr off_t kJournalRoom = off_t{256} << 10;

// A journal while it is made and locked, before it gets its name.
inline constexpr std::string_view kNewJournalPrefix = ".qor-journal-new-";

// A journal's file, made locked and private in the folder `root` under a
// fresh `name`; invalid with errno when it cannot be made. `left_behind`
// gets the name of one in the making that the file system would not remove.
Fd MakeJournalFile(int root, std::string& name, std::string& left_behind);

// This user's own folder for the journals of runs into a target folder that
// takes none ($XDG_STATE_HOME/qor/journals/, made private where missing),
// opened; invalid, with why, where it cannot be had. With `make` false it
// is only opened where it exists (a missing one gives why "").
Fd UserJournalFolder(std::string& why, bool make = true);

class RunJournal {
 public:
  // The journal of this run in the folder `root`, made when first written;
  // the files come from below `source_root` and go below `below` ("" or
  // "name/"), and `log` tells where the run log stands.
  RunJournal(int root, const std::string& source_root, std::function<LogMark()> log,
             std::string below = {});
  // The run is over: what it recorded has been dealt with.
  ~RunJournal();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // Makes the journal now and names the run log in it, so that a later run
  // finds the entry of the file in flight at a kill even where no move
  // needs a record; Problem tells when it cannot be made.
  void Start();
  // A name for a temporary about to be made in the folder `dir` (below the
  // target root or the source root), recorded already. Names are recorded several at a time, each
  // folder's apart: on a share each write to the journal is a round trip.
  std::string NextTemporary(int dir);
  // Before the copy `name` in `to_dir` (`copy` on its file system) is put in
  // place while its source of the same name in `from_dir` still exists;
  // `entry` is the run log's entry for the file once it has moved. Held until WriteHeld or Sync.
  void Placing(int from_dir, int to_dir, const std::string& name, const std::string& entry,
               const FileIdentity& copy);
  // Before the source `name` in `from_dir` is renamed to `taken`, its copy
  // being `name` in `to_dir`. Held until WriteHeld or Sync.
  void TakingAway(int from_dir, const std::string& taken, int to_dir, const std::string& name,
                  const std::string& entry);
  // Before the copy of `name` in `from_dir` is made under its own name in
  // `to_dir`, where the file system can neither rename without replacing
  // nor link. Held until WriteHeld or Sync.
  void Writing(int from_dir, int to_dir, const std::string& name);
  // After Writing: the name was taken when the copy was to be made. Held
  // until WriteHeld or Sync.
  void NameTaken(int from_dir, int to_dir, const std::string& name);
  // Before the file `name` in `from_dir`, `identity`, is renamed to `name`
  // in `to_dir` on the same file system, its log entry `entry` written only
  // after. Held until WriteHeld or Sync.
  void Renaming(int from_dir, int to_dir, const std::string& name, const std::string& entry,
                const FileIdentity& identity);
  // Writes the records held, in one write; false when they are on no disk
  // (no journal is kept, or it could not be written).
  bool WriteHeld();
  // Brings the run log to the disk as far as it is written (its name in its
  // folder too, once), before the journal lets go of a move whose entry it
  // holds; false when it cannot (the journal should then keep the move).
  bool SyncLog();
  // Why no journal is kept, empty while one is.
  std::string Problem();
  // Stops keeping the journal, for `why` (with `error`), which Problem tells.
  void Stop(const std::string& why, int error);
  // Everything recorded so far has been dealt with: the journal starts
  // afresh, so that it stays as small as one batch. Not while it names
  // renames that are not settled.
  void Clear();
  // What the journal names can no longer be dealt with by this run (the
  // run log would not take the entries of moves made): from now on it is
  // never emptied, and it stays when the run ends, for a later run to
  // finish.
  void Keep();
  // The renames recorded since they last settled are on the disk, and so
  // are the log's entries of them: Clear may let go of them.
  void RenamesSettled();
  // Whether the records of renames not settled have grown so large that
  // they should settle now, rather than at the run's end.
  bool RenamesLarge();
  // Bring what was recorded to the disk (on the root's file system a batch's
  // sync does it too), the records held with it; answers Lost().
  int Sync();
  // The error with which a journal that was kept could not be written or
  // synced any more (a full disk): what it was to record since is on no
  // disk, so no copy may be placed, nor a source taken away, after it. 0
  // while it is kept, and where it stopped for any other reason or could not
  // be made at the run's start (the run goes on without one, and says so).
  int Lost();

 private:
  bool Ready();
  // Makes the journal's file under its name, locked; false with errno.
  bool Make();
  // Clear where the file system cannot cut a file short: a fresh journal
  // with the same beginning takes the place of this one.
  void Renew();
  // Writes `records` after those held; the mutex is held.
  void WriteLocked(std::string records);
  // Sets room aside on the disk for the next batch's records, so that a
  // batch whose copies fill the disk still gets them written: then copies
  // fail for want of room, not the journal that names those made before.
  void Reserve();
  // Stops keeping the journal, and says why.
  void Fail(const std::string& why, int error);
  // The same where its records fail to reach the disk: as Lost() tells.
  void Lose(const std::string& why, int error);
  // The folder's path now below the target root, or the source root: for a
  // later run to find it by; false when it lies below neither.
  bool TargetFolderOf(int dir, std::string& folder);
  bool SourceFolderOf(int dir, std::string& folder);
  // Both, for a move's record; false, having stopped the journal, when
  // either lies elsewhere. The mutex is held.
  bool FoldersOf(int from_dir, int to_dir, std::string& source, std::string& target);
  // Whether records written now reach the file. The mutex is held.
  bool Writable() const { return file_.IsValid() && !failed_ && lost_ == 0; }

  // The folder that holds the journal: the target root, or this user's own.
  int Holder() const { return own_folder_.IsValid() ? own_folder_.get() : root_; }

  int root_;
  Fd own_folder_;            // this user's journal folder, where the target root takes none
  std::string source_root_;  // as given; made canonical with the journal
  std::string target_root_;
  std::string below_;
  std::function<LogMark()> log_;
  bool mark_due_ = true;             // the log's place goes before the next records
  off_t whole_ = 0;                  // the size up to the last record written whole
  off_t header_ = 0;                 // the size of the roots record and the first mark
  const JournalKey* key_ = nullptr;  // this user's, read as the journal is made
  std::string chain_;                // the seal of the last record written whole
  std::string header_chain_;         // and of the header's last
  std::string problem_;
  std::string left_behind_;  // a journal in the making the server kept
  std::mutex mutex_;         // copies made side by side record their temporaries
  Fd file_;
  std::string name_;
  bool failed_ = false;  // no journal kept any more: the moves go on without
  bool kept_ = false;    // it was made and named the roots
  bool log_name_synced_ = false;
  // Renames are recorded whose log entries may not be on the disk yet, nor
  // they themselves: a power cut may leave them either way, and only these
  // records tell a later run which were made.
  bool renames_unsettled_ = false;
  bool keep_ = false;  // as Keep()
  int lost_ = 0;       // as Lost()
  std::string held_;
  // The folders of the records held last, by descriptor: a batch's records
  // name the same few folders again and again, each open meanwhile.
  int held_from_ = -1, held_to_ = -1;
  std::string held_source_, held_target_;
  // Names recorded and not yet given out, by folder.
  std::map<std::string, std::vector<std::string>> temporaries_;
};

}  // namespace qor::platform
