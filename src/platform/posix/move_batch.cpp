#include "platform/move_batch.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <exception>
#include <future>
#include <memory>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/batch_limits.h"
#include "platform/posix/batch_jobs.h"
#include "platform/posix/copy_workers.h"
#include "platform/posix/cross_device_move.h"
#include "platform/posix/fd.h"
#include "platform/posix/file_system_abilities.h"
#include "platform/posix/listing_state.h"

namespace qor::platform {

namespace {

// The most folder removals a batch waits with, each holding its folder open.
constexpr std::size_t kRemovalsWaiting = 64;

// A folder descriptor of its own, shared by the moves of one folder. A
// failed duplication keeps its own errno, the reason its move fails.
class SharedFolder {
 public:
  SharedFolder(int fd, FileIdentity identity)
      : fd_(::fcntl(fd, F_DUPFD_CLOEXEC, 0)),
        error_(fd_.IsValid() ? 0 : errno),
        identity_(identity) {}
  int fd() const { return fd_.get(); }
  int error() const { return error_; }
  const FileIdentity& identity() const { return identity_; }

 private:
  Fd fd_;
  int error_;
  FileIdentity identity_;
};

// The error that stands for an exception thrown by a file's step on a
// worker: the file stays, and its log entry says why.
int ErrorOf(const std::exception_ptr& thrown) {
  try {
    std::rethrow_exception(thrown);
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  } catch (...) {
    return EIO;
  }
}

}  // namespace

struct MoveBatch::State {
  // One step of the batch: a file on its way (copied across file systems,
  // or renamed within one), or a folder to remove if empty once the moves
  // before it are done.
  struct Item {
    enum class Kind { Copy, Rename, RemoveSubfolder, RemoveFolder } kind = Kind::Copy;
    Steps steps;
    std::shared_ptr<SharedFolder> from;  // the source's folder, or the parent
    std::shared_ptr<SharedFolder> to;
    std::string name;  // the file's name (the same in both folders), or the folder's
    CrossCopy copy;
    Outcome outcome;  // a failure already known
    RunJournal* journal = nullptr;
    bool sync = false;    // the copy synced by itself as it is made
    bool begun = false;   // a rename whose entry follows it was given its room
    FileIdentity placed;  // what a rename put at the new name
    bool Moves() const { return kind == Kind::Copy || kind == Kind::Rename; }
    bool CopyPending() const { return kind == Kind::Copy && outcome.ok(); }
  };

  // The caller's question, asked on the caller's thread only (a window
  // handles its events in it): false when the user asked to stop. Its
  // false also breaks off, within 100 ms, the copies under way on the
  // workers, which hear of it by `cancelled` alone.
  std::function<bool()> caller_goes_on;
  std::atomic<bool> cancelled = false;
  bool UserGoesOn() {
    if (!caller_goes_on || caller_goes_on()) return true;
    cancelled = true;
    return false;
  }
  const KeepGoing user_goes_on = [this] { return UserGoesOn(); };
  const KeepGoing not_cancelled = [this] { return !cancelled; };

  // Stays where it is as the batch grows: a worker may be filling it in.
  std::deque<Item> items;
  std::atomic<std::uint64_t> bytes = 0;
  std::uint64_t expected = 0;  // the sizes the walk saw
  std::chrono::steady_clock::time_point first;
  std::shared_ptr<SharedFolder> last_from, last_to;
  // Hard-linked sources: what removing one name did to the others.
  OwnChanges own_changes;
  bool verify = false;  // each copy read back before its source goes
  // The target of the moves pending, whose new folders are synced with them.
  TargetFolder::State* target = nullptr;
  std::function<bool(bool durable)> settled;

  BatchJobs jobs;
  std::unique_ptr<CopyWorkers> workers;
  std::atomic<std::uint64_t> ahead_bytes = 0;  // handed out, not yet made

  bool Pending() const { return !items.empty(); }
  bool RenamesPending() const { return Pending() && items.front().kind == Item::Kind::Rename; }
  bool CopiesPending() const { return Pending() && items.front().kind == Item::Kind::Copy; }
  // Workers for `count` at once, the ones there are once idle; false when
  // the user said to stop meanwhile (the batch is given up).
  bool UseWorkers(std::size_t count);
  // Whether the batch is full: by its files, its bytes or its age.
  bool Full(std::size_t jobs_now) const {
    return items.size() >= (jobs_now > 1 ? kBatchFilesSideBySide : kBatchFiles) ||
           bytes >= kBatchBytes || expected >= kBatchBytes ||
           std::chrono::steady_clock::now() - first >= kBatchAge;
  }
  std::shared_ptr<SharedFolder> Share(std::shared_ptr<SharedFolder>& last, int fd,
                                      const FileIdentity& identity) {
    // One that could not be had is asked for again: the lack may be over.
    if (!last || !(last->identity() == identity) || last->error() != 0)
      last = std::make_shared<SharedFolder>(fd, identity);
    return last;
  }
  // The copy of `item`, here or on a worker; `go_on` is asked while it is
  // made.
  void MakeCopy(Item& item, const KeepGoing* go_on) {
    item.outcome = item.copy.Make(item.from->fd(), item.name, item.to->fd(), item.name, item.sync,
                                  go_on, item.journal);
    if (item.outcome.ok()) bytes += item.copy.Size();
  }
  // Runs `step` of `item` as work handed to the workers, where an exception
  // would end the program: one fails the item's move instead, and what
  // there is of its copy goes.
  template <typename Step>
  static void RunStep(Item& item, Step step) {
    try {
      step();
    } catch (...) {
      item.outcome = {ErrorOf(std::current_exception())};
      if (item.kind == Item::Kind::Copy) item.copy.Discard(item.to->fd(), item.name);
    }
  }
  // Fails every copy still pending that `which` picks, with `error`; what
  // there is of each goes.
  template <typename Which>
  void FailCopies(int error, Which which) {
    for (Item& item : items) {
      if (item.CopyPending() && which(item)) {
        item.copy.Discard(item.to->fd(), item.name);
        item.outcome = {error};
      }
    }
  }
  // The journal the moves pending record in, if any.
  RunJournal* Journal() const {
    for (const Item& item : items) {
      if (item.journal != nullptr) return item.journal;
    }
    return nullptr;
  }
  // Waits for `work` on a thread of its own while the window goes on living,
  // also once it has said to stop: the work cannot be broken off, and a
  // window that handles no events for minutes looks hung.
  template <typename Work>
  bool WaitLiving(Work work, int& result);
  // Runs `step` on each item `due` picks: here, or where work goes side by
  // side, the items of each target folder one after the other on a worker
  // of their own (each step waits a round trip, those into different
  // folders overlap, and those into one folder wait for each other anyway).
  // A stop asked for meanwhile is heard after the batch.
  template <typename Due, typename Step>
  void InLanes(Due due, Step step);

  // Starts the copy of `item`: here, or on a worker where `jobs_now` go
  // side by side; false when the user said to stop (the batch is given up).
  bool StartCopy(Item& item, std::size_t jobs_now);
  bool Commit();
  // Gives every pending move up; `meanwhile` is asked every 100 ms while
  // copies under way come to their end.
  void Abandon(const KeepGoing& meanwhile = {});

  // Removes the folder `item` names when it is one and empty by now (one
  // that cannot go simply stays); whether it names a folder.
  bool RemovesFolder(const Item& item) {
    if (item.kind == Item::Kind::RemoveSubfolder) {
      if (::unlinkat(item.from->fd(), item.name.c_str(), AT_REMOVEDIR) == 0)
        Changed(*item.from, false);
    } else if (item.kind == Item::Kind::RemoveFolder) {
      ::rmdir(item.name.c_str());
    } else {
      return false;
    }
    return true;
  }
  // The phases of a batch of copies, in their order.
  bool MakeEveryCopy();
  bool MakeCopiesDurable();
  void PlaceCopies();
  void SyncPlacedNames();
  void RecordTakingAway();
  void RemoveSources();
  bool RemovalsDurable();
  // The phases of a batch of renames.
  void RenameOneByOne();
  bool RecordRenames();
  void RenameLogLater();
  // Both end so: what the caller holds of their record goes to the file,
  // or to the disk when `durable`, and then the journal lets go of them.
  // Where `durable` tells of the renames so far too (`settles_renames`),
  // the journal lets go of them as well, once the caller's record is on the
  // disk, whether or not it may let go of the batch.
  void LetGo(bool durable, bool journal_may_let_go, RunJournal* journal,
             bool settles_renames = false);
  // The target whose folders renames (and the removals of folders they
  // emptied) changed since those were last synced: a rename is on the disk
  // in the system's own time, and a power cut could undo a move that the
  // record the caller brought to the disk names. They are synced once,
  // before the caller's record goes to the disk: where copies end a batch,
  // and where the moves end (Finish).
  TargetFolder::State* changed = nullptr;
  void Changed(const SharedFolder& folder, bool gained) {
    if (changed != nullptr && folder.error() == 0) {
      changed->Changes(folder.fd(), folder.identity(), gained);
    }
  }
  // Syncs them; false, the journal stopped and saying why, where a sync
  // failed.
  bool ChangesDurable();
  // Every rename so far on the disk, and the caller's record of them too.
  void Settle();
  bool CommitPending() { return !Pending() || Commit(); }
  // Folder removals waiting for the batch.
  std::size_t removals_waiting = 0;
  void Clear() {
    removals_waiting = 0;
    // Not held past the batch: a folder removed while held open pins every
    // folder above it, and each removal above would then walk all of them.
    last_from.reset();
    last_to.reset();
    target = nullptr;
    items.clear();
    bytes = 0;
    expected = 0;
  }
};

bool MoveBatch::State::UseWorkers(std::size_t count) {
  if (workers && workers->count() == count) return true;
  if (workers && !workers->WaitIdle(user_goes_on)) {
    Abandon(user_goes_on);
    return false;
  }
  workers = std::make_unique<CopyWorkers>(count);
  return true;
}

template <typename Work>
bool MoveBatch::State::WaitLiving(Work work, int& result) {
  std::future<int> done;
  try {
    done = std::async(std::launch::async, work);
  } catch (const std::system_error&) {
    // No thread to be had: the work is done here, the window waiting.
    result = work();
    return UserGoesOn();
  }
  bool go_on = true;
  while (done.wait_for(kKeepGoingEvery) != std::future_status::ready) {
    if (!UserGoesOn()) go_on = false;
  }
  result = done.get();
  return go_on;
}

template <typename Due, typename Step>
void MoveBatch::State::InLanes(Due due, Step step) {
  std::vector<Item*> due_items;
  for (Item& item : items) {
    if (due(item)) due_items.push_back(&item);
  }
  if (!workers) {
    for (Item* item : due_items) step(*item);
    return;
  }
  workers->InLanes(
      due_items, [](const Item& item) { return item.to->identity(); },
      [&step](Item& item) { RunStep(item, [&] { step(item); }); }, user_goes_on);
}

// 0. Every copy made. One that found no room while others were being made
// beside it is made once more, alone: the room may have been theirs, and
// copies side by side must fail no file that one at a time would move.
bool MoveBatch::State::MakeEveryCopy() {
  if (!workers) return true;
  if (!workers->WaitIdle(user_goes_on)) return false;
  for (Item& item : items) {
    if (item.kind != Item::Kind::Copy ||
        (item.outcome.error != ENOSPC && item.outcome.error != EDQUOT)) {
      continue;
    }
    MakeCopy(item, &user_goes_on);
    if (item.outcome.error == ECANCELED) return false;
  }
  return true;
}

// 1. Every copy durable, and the journal that names them before they are
// placed: one sync per target file system.
bool MoveBatch::State::MakeCopiesDurable() {
  for (Item& item : items) {
    if (item.CopyPending() && item.journal != nullptr) {
      item.journal->Placing(item.from->fd(), item.to->fd(), item.name, item.steps.entry,
                            item.copy.PlacedIdentity());
    }
  }
  std::vector<std::uint64_t> synced_systems;
  for (Item& item : items) {
    if (!item.CopyPending()) continue;
    const std::uint64_t device = item.to->identity().device;
    if (std::find(synced_systems.begin(), synced_systems.end(), device) != synced_systems.end()) {
      continue;
    }
    synced_systems.push_back(device);
    int error = 0;
    const int fd = item.to->fd();
    RunJournal* journal = item.journal;
    const bool go_on = WaitLiving(
        [fd, journal] {
          // A journal lost now names none of them: none is placed.
          if (journal != nullptr) {
            if (const int lost = journal->Sync()) return lost;
          }
          return ::syncfs(fd) == 0 ? 0 : errno;
        },
        error);
    if (!go_on) return false;
    if (error != 0) {
      FailCopies(error,
                 [device](const Item& other) { return other.to->identity().device == device; });
    }
  }
  return true;
}

// 2. Each copy under its name, never replacing.
void MoveBatch::State::PlaceCopies() {
  InLanes([](const Item& item) { return item.CopyPending(); },
          [](Item& item) { item.outcome = item.copy.Place(item.to->fd(), item.name); });
}

// Then each target folder that gained a name made durable once, and the
// folders made for them in the folders that hold them.
void MoveBatch::State::SyncPlacedNames() {
  // A folder's sync makes durable the names of copies of files further on,
  // made meanwhile: what the journal says of them goes first.
  if (RunJournal* journal = Journal()) journal->Sync();
  std::vector<FileIdentity> done_folders;
  for (const Item& item : items) {
    if (!item.CopyPending()) continue;
    const FileIdentity folder = item.to->identity();
    if (std::find(done_folders.begin(), done_folders.end(), folder) != done_folders.end()) continue;
    done_folders.push_back(folder);
    if (::fsync(item.to->fd()) == 0 || errno == EINVAL) continue;
    FailCopies(errno, [folder](const Item& other) { return other.to->identity() == folder; });
  }
  if (target != nullptr) {
    if (const int error = target->SyncMadeFolders()) {
      FailCopies(error, [](const Item&) { return true; });
    }
  }
}

// 3. The private names the sources are taken away to, recorded all in one
// write, and on the disk before any source takes its: a source on another
// disk can keep that name through a power cut that an unsynced record would
// not survive, and no later run would know it.
void MoveBatch::State::RecordTakingAway() {
  std::vector<RunJournal*> taking;
  for (Item& item : items) {
    if (!item.CopyPending() || item.journal == nullptr) continue;
    item.copy.RecordTakingAway(item.from->fd(), item.to->fd(), item.name, item.steps.entry,
                               *item.journal);
    if (std::find(taking.begin(), taking.end(), item.journal) == taking.end()) {
      taking.push_back(item.journal);
    }
  }
  for (RunJournal* journal : taking) {
    if (const int lost = journal->Sync()) {
      FailCopies(lost, [journal](const Item& item) { return item.journal == journal; });
    }
  }
}

// 4. In the order asked for: each source removed when still unchanged,
// each folder removed when empty by then.
void MoveBatch::State::RemoveSources() {
  for (Item& item : items) {
    switch (item.kind) {
      case Item::Kind::RemoveSubfolder:
      case Item::Kind::RemoveFolder:
        RemovesFolder(item);
        break;
      case Item::Kind::Rename:
        break;
      case Item::Kind::Copy:
        if (!item.steps.begin()) {
          item.copy.Discard(item.to->fd(), item.name);
          break;
        }
        if (item.outcome.ok() && verify &&
            !SameAsCopied(item.from->fd(), item.name, item.to->fd(), item.name)) {
          item.copy.Discard(item.to->fd(), item.name);
          item.outcome = {kCopyDiffers};
        }
        if (item.outcome.ok()) {
          item.outcome =
              item.copy.RemoveSource(item.from->fd(), item.name, item.to->fd(), item.name,
                                     &own_changes, item.journal, item.steps.entry);
        }
        item.steps.end(item.outcome, item.copy.PlacedIdentity());
        break;
    }
  }
}

// 5. Every source of the batch has gone or stays, every copy is in place or
// gone: nothing the journal names is pending any more, once the removals
// are on the disk too (else a power cut brings sources back that no
// journal names beside their copies). So are the removals of copies and
// temporaries given up: the journal would no longer name what a power cut
// brought back of them. Where a sync fails, the journal keeps naming the
// batch: a later run finds what is left of it.
bool MoveBatch::State::RemovalsDurable() {
  std::vector<FileIdentity> synced;
  bool durable = true;
  for (const Item& item : items) {
    if (item.kind != Item::Kind::Copy || item.journal == nullptr) continue;
    for (const SharedFolder* folder :
         {item.from.get(), item.outcome.ok() ? nullptr : item.to.get()}) {
      if (folder == nullptr ||
          std::find(synced.begin(), synced.end(), folder->identity()) != synced.end()) {
        continue;
      }
      synced.push_back(folder->identity());
      if (::fsync(folder->fd()) != 0 && errno != EINVAL) durable = false;
    }
  }
  return durable;
}

void MoveBatch::State::LetGo(bool durable, bool journal_may_let_go, RunJournal* journal,
                             bool settles_renames) {
  const bool logged = !settled || settled(durable);
  if (journal == nullptr) return;
  if (logged && durable && settles_renames) journal->RenamesSettled();
  if (!journal_may_let_go) return;
  if (!logged) {
    // Moves made whose entries the log would not take: the next run logs
    // them from the journal.
    journal->Keep();
  } else if (durable) {
    journal->Clear();
  }
}

// Renames not settled keep their records until then; where their folders
// could not be synced the journal stays too, for a later run to look at.
bool MoveBatch::State::ChangesDurable() {
  TargetFolder::State* in = std::exchange(changed, nullptr);
  if (in == nullptr) return true;
  RunJournal* journal = in->journal.get();
  if (const int error = in->SyncChangedFolders()) {
    if (journal != nullptr) {
      journal->Stop("the folders of files renamed cannot be brought to the disk", error);
      journal->Keep();
    }
    return false;
  }
  return true;
}

void MoveBatch::State::Settle() {
  if (changed == nullptr) return;
  RunJournal* journal = changed->journal.get();
  LetGo(ChangesDurable(), true, journal, true);
}

// Renames the way of a single file: each entry begun before its rename.
void MoveBatch::State::RenameOneByOne() {
  for (Item& item : items) {
    if (!RemovesFolder(item) && item.steps.begin()) {
      if (item.outcome.ok()) {
        item.outcome =
            MoveListedFileAt(item.from->fd(), item.name, item.to->fd(), item.name, &item.placed,
                             item.journal, item.steps.entry, item.from->identity().device);
      }
      if (item.outcome.ok()) {
        Changed(*item.to, true);
        Changed(*item.from, false);
      }
      item.steps.end(item.outcome, item.placed);
    }
  }
}

// The renames, each with its entry and its file's identity, in the journal
// in one write before the first of them is made; false when that cannot
// be, or a rename cannot leave its entry for later.
bool MoveBatch::State::RecordRenames() {
  RunJournal* journal = Journal();
  if (journal == nullptr) return false;
  for (const Item& item : items) {
    if (item.kind == Item::Kind::Rename && (!item.steps.begin_later || !item.outcome.ok())) {
      return false;
    }
  }
  for (const Item& item : items) {
    if (item.kind != Item::Kind::Rename) continue;
    journal->Renaming(item.from->fd(), item.to->fd(), item.name, item.steps.entry,
                      item.steps.identity);
  }
  return journal->WriteHeld();
}

// The renames whose entries follow them: each given its room in the log,
// then all made, then in the order asked for each logged, and each folder
// removed when empty by then.
void MoveBatch::State::RenameLogLater() {
  for (Item& item : items) {
    if (item.kind == Item::Kind::Rename) item.begun = item.steps.begin_later();
  }
  InLanes([](const Item& item) { return item.kind == Item::Kind::Rename && item.begun; },
          [](Item& item) {
            item.outcome =
                MoveListedFileAt(item.from->fd(), item.name, item.to->fd(), item.name, &item.placed,
                                 item.journal, item.steps.entry, item.from->identity().device);
          });
  for (Item& item : items) {
    if (!RemovesFolder(item) && item.begun) {
      if (item.outcome.ok()) {
        Changed(*item.to, true);
        Changed(*item.from, false);
      }
      item.steps.end(item.outcome, item.placed);
    }
  }
}

bool MoveBatch::State::Commit() {
  if (RenamesPending()) {
    // A remote file system may copy the file into its new folder (rclone):
    // that folder on the disk before the source goes. A rename needs it
    // not, as it is undone with the folder.
    if (target != nullptr && !target->made_in.empty() && IsRemote(target->Current())) {
      if (const int error = target->SyncMadeFolders()) {
        for (Item& item : items) {
          if (item.kind == Item::Kind::Rename) item.outcome = {error};
        }
      }
    }
    changed = target;
    RunJournal* journal = Journal();
    if (RecordRenames()) {
      RenameLogLater();
      LetGo(false, true, journal);
    } else {
      RenameOneByOne();
      LetGo(false, false, journal);
    }
    if (journal != nullptr && journal->RenamesLarge()) Settle();
    Clear();
    return true;
  }
  if (!MakeEveryCopy() || !MakeCopiesDurable()) {
    Abandon(user_goes_on);
    return false;
  }
  PlaceCopies();
  SyncPlacedNames();
  RecordTakingAway();
  RemoveSources();
  const bool durable = RemovalsDurable();
  // The caller's record goes to the disk: the renames it names before.
  const bool renames = changed != nullptr;
  LetGo(ChangesDurable(), durable, Journal(), renames);
  Clear();
  return true;
}

void MoveBatch::State::Abandon(const KeepGoing& meanwhile) {
  if (workers) {
    cancelled = true;
    workers->WaitIdle(meanwhile);
    cancelled = false;
  }
  RunJournal* journal = Journal();
  for (Item& item : items) {
    if (item.kind == Item::Kind::Copy) item.copy.Discard(item.to->fd(), item.name);
  }
  if (journal != nullptr) journal->Clear();
  Clear();
}

MoveBatch::MoveBatch(std::function<bool()> keep_going) : state_(std::make_unique<State>()) {
  state_->caller_goes_on = std::move(keep_going);
}

MoveBatch::~MoveBatch() {
  state_->Abandon();
}

bool MoveBatch::Move(const FolderListing& folder, const std::string& name,
                     const TargetFolder& target, Steps steps) {
  State& state = *state_;
  const FolderListing::State& from = *folder.state_;
  TargetFolder::State& to = *target.state_;
  if (from.fd < 0 || !to.entered) {
    if (!state.CommitPending()) return false;
    if (steps.begin()) steps.end({EBADF}, {});
    return true;
  }
  const bool rename = from.identity.device == to.CurrentIdentity().device;
  // A batch is of renames or of copies: the other kind waits for it.
  if (rename ? state.CopiesPending() : state.RenamesPending()) {
    if (!state.CommitPending()) return false;
  }
  std::shared_ptr<SharedFolder> from_folder = state.Share(state.last_from, from.fd, from.identity);
  std::shared_ptr<SharedFolder> to_folder =
      state.Share(state.last_to, to.Current(), to.CurrentIdentity());
  const int shared_error = from_folder->error() != 0 ? from_folder->error() : to_folder->error();
  const std::size_t jobs = shared_error != 0
                               ? 1
                               : state.jobs.Between(from_folder->fd(), from_folder->identity(),
                                                    to_folder->fd(), to_folder->identity());
  if (jobs > 1 && !state.UseWorkers(jobs)) return false;
  if (!rename && jobs > 1 && state.ahead_bytes >= kAheadBytes &&
      !state.workers->WaitBelow(jobs, state.user_goes_on)) {
    state.Abandon(state.user_goes_on);
    return false;
  }
  if (!state.Pending()) state.first = std::chrono::steady_clock::now();
  state.target = &to;
  State::Item& item = state.items.emplace_back();
  item.kind = rename ? State::Item::Kind::Rename : State::Item::Kind::Copy;
  item.steps = std::move(steps);
  item.from = std::move(from_folder);
  item.to = std::move(to_folder);
  item.name = name;
  item.outcome = {shared_error};
  if (shared_error == 0) item.journal = to.Journal();
  if (!rename) {
    state.expected += item.steps.size;
    if (shared_error == 0 && !state.StartCopy(item, jobs)) return false;
  }
  return !state.Full(jobs) || state.CommitPending();
}

bool MoveBatch::State::StartCopy(Item& item, std::size_t jobs_now) {
  item.sync = jobs.SyncsEachCopy(item.to->fd(), item.to->identity());
  if (jobs_now <= 1) {
    MakeCopy(item, &user_goes_on);
  } else {
    ahead_bytes += item.steps.size;
    workers->Run(
        [this, &item](bool here) {
          // Made here when no thread could be had: then the caller is asked
          // while it is made, as for a copy made one at a time.
          const KeepGoing* go_on = here ? &user_goes_on : &not_cancelled;
          if (cancelled) {
            item.outcome = {ECANCELED};
          } else {
            RunStep(item, [&] { MakeCopy(item, go_on); });
          }
          ahead_bytes -= item.steps.size;
        },
        item.to.get());
  }
  // A copy made here heard a stop.
  if (jobs_now <= 1 ? item.outcome.error == ECANCELED : cancelled.load()) {
    Abandon(user_goes_on);
    return false;
  }
  return true;
}

bool MoveBatch::RemoveEmptySubfolder(const FolderListing& parent, const std::string& name) {
  State& state = *state_;
  // Each waiting removal holds its folder open: a walk back up a deep tree
  // would run out of descriptors.
  if (++state.removals_waiting > kRemovalsWaiting && !state.CommitPending()) return false;
  if (!state.Pending()) {
    if (parent.RemoveEmptySubfolder(name).ok() && state.changed != nullptr) {
      state.changed->Changes(parent.state_->fd, parent.state_->identity, false);
    }
    return true;
  }
  State::Item item;
  item.kind = State::Item::Kind::RemoveSubfolder;
  item.from = std::make_shared<SharedFolder>(parent.state_->fd, parent.state_->identity);
  item.name = name;
  state.items.push_back(std::move(item));
  return true;
}

bool MoveBatch::RemoveEmptyFolder(const std::string& path) {
  State& state = *state_;
  if (!state.Pending()) {
    ::rmdir(path.c_str());
    return true;
  }
  State::Item item;
  item.kind = State::Item::Kind::RemoveFolder;
  item.name = path;
  state.items.push_back(std::move(item));
  return true;
}

void MoveBatch::VerifyCopies() {
  state_->verify = true;
}

void MoveBatch::WhenSettled(std::function<bool(bool durable)> settled) {
  state_->settled = std::move(settled);
}

void MoveBatch::SetJobs(std::size_t jobs) {
  state_->jobs.Set(jobs);
}

bool MoveBatch::Finish() {
  if (!state_->CommitPending()) return false;
  state_->Settle();
  return true;
}

void MoveBatch::Abandon() {
  state_->Abandon();
}

}  // namespace qor::platform
