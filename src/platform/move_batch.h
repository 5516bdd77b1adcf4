#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/files.h"

namespace qor::platform {

// The moves of one run, carried out in the order they are asked for. Within
// one file system the renames of a batch are recorded in the run's journal,
// all in one write, then made (side by side into different folders where
// the file system answers slowly), and only then logged, all in one write:
// a run killed meanwhile leaves its journal, from which the next run logs
// the renames that were made. Across file systems the copies of
// a batch (a few hundred files, some tens of MiB or half a second, whichever
// comes first) are made first, made durable together and put in place under
// their names without replacing; only then are the sources removed, one by
// one in order, each only if it is still the very file copied, unchanged. So
// a hundred small files cost one sync, not two hundred. A run killed
// meanwhile leaves its journal, from which the next run into that target
// finishes the batch: the temporaries go, each source whose copy is in place
// and equal goes (logged where the killed run's log lacks its entry), and
// every other source keeps its name.
class MoveBatch {
 public:
  // What the caller does around each move, in the order of the moves.
  struct Steps {
    // Just before the source leaves its name: the copy is in place and
    // durable. False gives that move up: the copy goes, the source stays,
    // and `end` is not called.
    std::function<bool()> begin;
    // The outcome, and the identity of the file at its new place.
    std::function<void(Outcome, FileIdentity)> end;
    // The run log's entry for the file once moved, kept in the run's journal
    // so that a later run that finishes the move after a kill can log it.
    std::string entry;
    // The size the walk saw: a batch counts it against its bytes before the
    // copy is made, so copies handed out ahead never overrun the batch.
    std::uint64_t size = 0;
    // The identity the walk saw, by which a later run tells a rename that
    // was made from one that was not.
    FileIdentity identity = {};
    // For a rename within one file system whose log entry may follow it:
    // asked instead of `begin`, before the batch's renames; false gives
    // that move up. The entry is then written whole once the move is over,
    // with `end`. Without it each rename waits for `begin`.
    std::function<bool()> begin_later = {};
  };

  // `keep_going` is asked at least every 100 ms while the caller waits on a
  // copy or on a batch being made durable; false gives every pending move
  // up (see Abandon).
  explicit MoveBatch(std::function<bool()> keep_going);
  // Gives up what is still pending.
  ~MoveBatch();
  MoveBatch(const MoveBatch&) = delete;
  MoveBatch& operator=(const MoveBatch&) = delete;

  // Moves the entry `name` of `folder` into the folder `target` has entered,
  // under the same name, never replacing anything. False when `keep_going`
  // said to stop, which copies made side by side may hear only when the
  // batch ends.
  bool Move(const FolderListing& folder, const std::string& name, const TargetFolder& target,
            Steps steps);
  // Removes the subfolder `name` of `parent` if it is empty, after the moves
  // asked for before; a folder that cannot go simply stays.
  bool RemoveEmptySubfolder(const FolderListing& parent, const std::string& name);
  // The same for the folder at `path`.
  bool RemoveEmptyFolder(const std::string& path);
  // From now on, before each source goes across file systems, its copy in
  // place and durable is read back from the target's disk and compared with
  // it; a copy that differs goes and the source stays (kCopyDiffers).
  void VerifyCopies();
  // `settled` is called each time the steps of the moves so far have all
  // been called, before the run's journal lets go of them: what the caller
  // still holds of their record goes to the file now, and when `durable`
  // (their copies and removals are on the disk) to the disk too; false when
  // it could not, and the journal keeps them for a later run to log.
  void WhenSettled(std::function<bool(bool durable)> settled);
  // At most `jobs` copies across file systems under way at once; 1 makes
  // them one after the other, 0 (the default) chooses by the file systems:
  // on Linux several onto or off a share, one between local disks; on
  // Windows several. The order of the steps, and everything said above, stays as it is.
  void SetJobs(std::size_t jobs);
  // Completes every pending move; false when `keep_going` said to stop.
  // Then the renames made so far go to the disk with every folder they
  // changed, and `settled` hears of them as durable: a rename is on the
  // disk in the system's own time, and only so can no power cut undo a move
  // that the caller's record on the disk names.
  bool Finish();
  // Gives every pending move up: their copies and temporaries are removed,
  // their sources stay as they were, and no step of theirs is called.
  void Abandon();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace qor::platform
