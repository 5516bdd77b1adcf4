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
#include <vector>

#include "platform/batch_limits.h"
#include "platform/posix/copy_workers.h"
#include "platform/posix/cross_device_move.h"
#include "platform/posix/fd.h"
#include "platform/posix/file_system_abilities.h"
#include "platform/posix/listing_state.h"

namespace qor::platform {

namespace {

// Copies under way at once where one of the two file systems answers over a
// network or through a process of its own: each operation there waits a
// round trip, and overlapping the waits is what pays. Between local disks
// copies side by side were slower than one at a time (measured on two
// processors), so there they are made one after the other.
constexpr std::size_t kRemoteJobs = 8;
constexpr std::size_t kLocalJobs = 1;

// Copies are handed to the workers ahead of the walk, so that they can
// spread them over the batch's folders; but once this many bytes of them are
// not yet made, the walk waits until fewer than the workers' number are
// under way: a batch of large files still ends by its age.
constexpr std::uint64_t kAheadBytes = 8 << 20;

// Where copies are made side by side, a batch holds more files: the more
// folders it spans, the more of their creates and renames overlap (the
// system lets those in one folder wait for each other).
constexpr std::size_t kBatchFilesSideBySide = 4 * kBatchFiles;

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

// Waits until the work handed to the workers is done on every way out of a
// scope, also when an exception leaves it: the work uses what the scope
// holds.
class IdleOnLeaving {
 public:
  explicit IdleOnLeaving(CopyWorkers* workers) : workers_(workers) {}
  ~IdleOnLeaving() {
    if (workers_ != nullptr) workers_->WaitIdle({});
  }
  IdleOnLeaving(const IdleOnLeaving&) = delete;
  IdleOnLeaving& operator=(const IdleOnLeaving&) = delete;

  // Waits now, asking `meanwhile` every 100 ms; false when it said to stop.
  bool Wait(const KeepGoing& meanwhile) {
    if (workers_ == nullptr) return true;
    const bool go_on = workers_->WaitIdle(meanwhile);
    workers_ = nullptr;
    return go_on;
  }

 private:
  CopyWorkers* workers_;
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
  // The caller's question, asked on the caller's thread only (a window
  // handles its events in it): false when the user asked to stop.
  KeepGoing caller_goes_on;

  // One step of the batch: a file on its way, or a folder to remove if
  // empty once the moves before it are done.
  struct Item {
    enum class Kind { Move, RemoveSubfolder, RemoveFolder } kind = Kind::Move;
    Steps steps;
    std::shared_ptr<SharedFolder> from;  // the source's folder, or the parent
    std::shared_ptr<SharedFolder> to;
    std::string name;  // the file's name (the same in both folders), or the folder's
    CrossCopy copy;
    Outcome outcome;  // a failure already known
    RunJournal* journal = nullptr;
    bool sync = false;  // the copy synced by itself as it is made
  };
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
  std::function<bool()> settled;

  // Copies made side by side: `jobs` at most, 0 to choose by the file
  // systems; 1 makes each copy here, one after the other.
  std::size_t jobs = 0;
  std::size_t chosen_jobs = 0;
  FileIdentity chosen_from, chosen_to;
  bool remote_to = false;
  FileIdentity remote_known;  // the target folder `remote_to` was asked of
  std::unique_ptr<CopyWorkers> workers;
  std::atomic<bool> cancelled = false;
  std::atomic<std::uint64_t> ahead_bytes = 0;  // handed out, not yet made
  // Asked on the caller's thread while copies may be under way on the
  // workers: `caller_goes_on`, and its false also sets `cancelled`, which
  // breaks those copies off within 100 ms.
  KeepGoing caller_goes_on_else_cancel = [this] {
    const bool go_on = !caller_goes_on || caller_goes_on();
    if (!go_on) cancelled = true;
    return go_on;
  };
  // Asked by the copies on the workers, which must not call the caller:
  // false once `cancelled` is set.
  KeepGoing not_cancelled = [this] { return !cancelled; };

  std::size_t Jobs(const SharedFolder& from, const SharedFolder& to) {
    if (jobs != 0) return jobs;
    if (chosen_jobs == 0 || !(chosen_from.device == from.identity().device) ||
        !(chosen_to.device == to.identity().device)) {
      chosen_jobs = IsRemote(from.fd()) || IsRemote(to.fd()) ? kRemoteJobs : kLocalJobs;
      chosen_from = from.identity();
      chosen_to = to.identity();
    }
    return chosen_jobs;
  }
  // Whether each copy into `to` is synced by itself as it is made: so where
  // `to` is remote, as a sync of a whole remote file system may not reach
  // the far side (FUSE passes none on, CIFS and 9p send no flush).
  bool SyncsEachCopy(const SharedFolder& to) {
    if (!(remote_known == to.identity())) {
      remote_to = IsRemote(to.fd());
      remote_known = to.identity();
    }
    return remote_to;
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
      item.copy.Discard(item.to->fd(), item.name);
    }
  }

  std::shared_ptr<SharedFolder> Share(std::shared_ptr<SharedFolder>& last, int fd,
                                      const FileIdentity& identity) {
    // One that could not be had is asked for again: the lack may be over.
    if (!last || !(last->identity() == identity) || last->error() != 0)
      last = std::make_shared<SharedFolder>(fd, identity);
    return last;
  }
  bool Pending() const { return !items.empty(); }
  // Waits for `work` on a thread of its own while the window goes on living,
  // also once it has said to stop: the work cannot be broken off, and a
  // window that handles no events for minutes looks hung.
  template <typename Work>
  bool WaitLiving(Work work, int& result) {
    std::future<int> done;
    try {
      done = std::async(std::launch::async, work);
    } catch (const std::system_error&) {
      // No thread to be had: the work is done here, the window waiting.
      result = work();
      return !caller_goes_on || caller_goes_on();
    }
    bool go_on = true;
    while (done.wait_for(kKeepGoingEvery) != std::future_status::ready) {
      if (caller_goes_on && !caller_goes_on()) go_on = false;
    }
    result = done.get();
    return go_on;
  }
  bool Commit();
  // Gives every pending move up; `meanwhile` is asked every 100 ms while
  // copies under way come to their end.
  void Abandon(const KeepGoing& meanwhile = {});
};

bool MoveBatch::State::Commit() {
  // 0. Every copy made. One that found no room while others were being made
  // beside it is made once more, alone: the room may have been theirs, and
  // copies side by side must fail no file that one at a time would move.
  if (workers) {
    if (!workers->WaitIdle(caller_goes_on_else_cancel)) {
      Abandon(caller_goes_on);
      return false;
    }
    for (Item& item : items) {
      if (item.kind != Item::Kind::Move ||
          (item.outcome.error != ENOSPC && item.outcome.error != EDQUOT)) {
        continue;
      }
      MakeCopy(item, &caller_goes_on);
      if (item.outcome.error == ECANCELED) {
        Abandon(caller_goes_on);
        return false;
      }
    }
  }
  // 1. Every copy durable, and the journal that names them before they are
  // placed: one sync per target file system.
  for (Item& item : items) {
    if (item.kind == Item::Kind::Move && item.outcome.ok() && item.journal != nullptr) {
      item.journal->Placing(item.from->fd(), item.to->fd(), item.name, item.steps.entry);
    }
  }
  std::vector<std::shared_ptr<SharedFolder>> synced_systems;
  for (Item& item : items) {
    if (item.kind != Item::Kind::Move || !item.outcome.ok()) continue;
    bool seen = false;
    for (const auto& folder : synced_systems) {
      seen = seen || folder->identity().device == item.to->identity().device;
    }
    if (seen) continue;
    synced_systems.push_back(item.to);
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
    if (!go_on) {
      Abandon(caller_goes_on);
      return false;
    }
    if (error != 0) {
      for (Item& other : items) {
        if (other.kind == Item::Kind::Move && other.outcome.ok() &&
            other.to->identity().device == item.to->identity().device) {
          other.copy.Discard(other.to->fd(), other.name);
          other.outcome = {error};
        }
      }
    }
  }
  // 2. Each copy under its name, never replacing; then each target folder
  // that gained a name made durable once.
  // Where copies are made side by side, the renames into each folder go
  // one after the other on a worker of their own: each waits a round trip,
  // those into different folders overlap, and those into one folder wait
  // for each other anyway. A stop asked for meanwhile is heard after the
  // batch, as when they go one by one.
  std::vector<std::vector<Item*>> lanes;
  IdleOnLeaving placing(workers.get());  // the workers read `lanes`
  for (Item& item : items) {
    if (item.kind != Item::Kind::Move || !item.outcome.ok()) continue;
    if (!workers) {
      item.outcome = item.copy.Place(item.to->fd(), item.name);
      continue;
    }
    auto lane = std::find_if(lanes.begin(), lanes.end(), [&item](const auto& lane) {
      return lane.front()->to->identity() == item.to->identity();
    });
    if (lane == lanes.end()) lane = lanes.insert(lanes.end(), std::vector<Item*>{});
    lane->push_back(&item);
  }
  for (const std::vector<Item*>& lane : lanes) {
    workers->Run([&lane](bool) {
      for (Item* item : lane) {
        RunStep(*item, [item] { item->outcome = item->copy.Place(item->to->fd(), item->name); });
      }
    });
  }
  placing.Wait(caller_goes_on);
  std::vector<std::shared_ptr<SharedFolder>> touched;
  for (Item& item : items) {
    if (item.kind == Item::Kind::Move && item.outcome.ok() &&
        (touched.empty() || touched.back() != item.to)) {
      touched.push_back(item.to);
    }
  }
  // A folder's sync makes durable the names of copies of files further on,
  // made meanwhile: what the journal says of them goes first.
  for (const Item& item : items) {
    if (item.journal != nullptr) {
      item.journal->Sync();
      break;
    }
  }
  std::vector<FileIdentity> done_folders;
  for (const auto& folder : touched) {
    bool seen = false;
    for (const FileIdentity& done : done_folders) seen = seen || done == folder->identity();
    if (seen) continue;
    done_folders.push_back(folder->identity());
    if (::fsync(folder->fd()) == 0 || errno == EINVAL) continue;
    const int error = errno;
    for (Item& item : items) {
      if (item.kind == Item::Kind::Move && item.outcome.ok() &&
          item.to->identity() == folder->identity()) {
        item.copy.Discard(item.to->fd(), item.name);
        item.outcome = {error};
      }
    }
  }
  // The folders made for them too, in the folders that hold them.
  if (target != nullptr) {
    if (const int error = target->SyncMadeFolders()) {
      for (Item& item : items) {
        if (item.kind == Item::Kind::Move && item.outcome.ok()) {
          item.copy.Discard(item.to->fd(), item.name);
          item.outcome = {error};
        }
      }
    }
  }
  // 3. In the order asked for: each source removed when still unchanged,
  // each folder removed when empty by then. The private names the sources
  // are taken away to are recorded first, all in one write.
  std::vector<RunJournal*> taking;
  for (Item& item : items) {
    if (item.kind == Item::Kind::Move && item.outcome.ok() && item.journal != nullptr) {
      item.copy.RecordTakingAway(item.from->fd(), item.to->fd(), item.name, item.steps.entry,
                                 *item.journal);
      if (std::find(taking.begin(), taking.end(), item.journal) == taking.end()) {
        taking.push_back(item.journal);
      }
    }
  }
  // On the disk before any source takes its private name: a source on
  // another disk can keep that name through a power cut that an unsynced
  // record would not survive, and no later run would know it.
  for (RunJournal* journal : taking) {
    const int lost = journal->Sync();
    for (Item& item : items) {
      if (lost != 0 && item.kind == Item::Kind::Move && item.outcome.ok() &&
          item.journal == journal) {
        item.copy.Discard(item.to->fd(), item.name);
        item.outcome = {lost};
      }
    }
  }
  for (Item& item : items) {
    switch (item.kind) {
      case Item::Kind::RemoveSubfolder:
        ::unlinkat(item.from->fd(), item.name.c_str(), AT_REMOVEDIR);
        break;
      case Item::Kind::RemoveFolder:
        ::rmdir(item.name.c_str());
        break;
      case Item::Kind::Move:
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
  // Every source of the batch has gone or stays, every copy is in place or
  // gone: nothing the journal names is pending any more, once the removals
  // are on the disk too (else a power cut brings sources back that no
  // journal names beside their copies).
  // So are the removals of copies and temporaries given up: the journal
  // would no longer name what a power cut brought back of them.
  std::vector<FileIdentity> synced;
  bool removals_durable = true;
  for (const Item& item : items) {
    if (item.kind != Item::Kind::Move || item.journal == nullptr) continue;
    for (const SharedFolder* folder :
         {item.from.get(), item.outcome.ok() ? nullptr : item.to.get()}) {
      if (folder == nullptr ||
          std::find(synced.begin(), synced.end(), folder->identity()) != synced.end()) {
        continue;
      }
      synced.push_back(folder->identity());
      // Where that fails, the journal keeps naming the batch: a later run
      // finds what is left of it.
      if (::fsync(folder->fd()) != 0 && errno != EINVAL) removals_durable = false;
    }
  }
  const bool logged = !settled || settled();
  for (const Item& item : items) {
    if (item.journal != nullptr && removals_durable && logged) {
      item.journal->Clear();
      break;
    }
  }
  target = nullptr;
  items.clear();
  bytes = 0;
  expected = 0;
  return true;
}

void MoveBatch::State::Abandon(const KeepGoing& meanwhile) {
  if (workers) {
    cancelled = true;
    workers->WaitIdle(meanwhile);
    cancelled = false;
  }
  RunJournal* journal = nullptr;
  for (Item& item : items) {
    if (item.kind == Item::Kind::Move) item.copy.Discard(item.to->fd(), item.name);
    if (item.journal != nullptr) journal = item.journal;
  }
  if (journal != nullptr) journal->Clear();
  items.clear();
  bytes = 0;
  expected = 0;
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
    if (!Finish()) return false;
    if (steps.begin()) steps.end({EBADF}, {});
    return true;
  }

  if (from.identity.device == to.CurrentIdentity().device) {
    // One file system: a rename, at once, after the moves before it.
    if (!Finish()) return false;
    if (!steps.begin()) return true;
    // A remote file system may copy the file into its new folder (rclone):
    // that folder on the disk before the source goes. A rename needs it
    // not, as it is undone with the folder.
    if (!to.made_in.empty() && IsRemote(to.Current())) {
      if (const int error = to.SyncMadeFolders()) {
        steps.end({error}, {});
        return true;
      }
    }
    FileIdentity placed;
    const Outcome moved = MoveListedFileAt(from.fd, name, to.Current(), name, &placed, to.Journal(),
                                           steps.entry, from.identity.device);
    steps.end(moved, placed);
    return true;
  }

  std::shared_ptr<SharedFolder> from_folder = state.Share(state.last_from, from.fd, from.identity);
  std::shared_ptr<SharedFolder> to_folder =
      state.Share(state.last_to, to.Current(), to.CurrentIdentity());
  const int shared_error = from_folder->error() != 0 ? from_folder->error() : to_folder->error();
  const std::size_t jobs = shared_error != 0 ? 1 : state.Jobs(*from_folder, *to_folder);
  if (jobs > 1 && (!state.workers || state.workers->count() != jobs)) {
    if (state.workers && !state.workers->WaitIdle(state.caller_goes_on_else_cancel)) {
      state.Abandon(state.caller_goes_on);
      return false;
    }
    state.workers = std::make_unique<CopyWorkers>(jobs);
  }
  if (jobs > 1 && state.ahead_bytes >= kAheadBytes &&
      !state.workers->WaitBelow(jobs, state.caller_goes_on_else_cancel)) {
    state.Abandon(state.caller_goes_on);
    return false;
  }
  if (!state.Pending()) state.first = std::chrono::steady_clock::now();
  state.target = &to;
  State::Item& item = state.items.emplace_back();
  item.steps = std::move(steps);
  item.from = std::move(from_folder);
  item.to = std::move(to_folder);
  item.name = name;
  state.expected += item.steps.size;
  if (shared_error != 0) {
    item.outcome = {shared_error};
  } else {
    item.journal = to.Journal();
    item.sync = state.SyncsEachCopy(*item.to);
    if (jobs > 1) {
      const void* lane = item.to.get();
      state.ahead_bytes += item.steps.size;
      state.workers->Run(
          [&state, &item](bool here) {
            // Made here when no thread could be had: then the caller is
            // asked while it is made, as for a copy made one at a time.
            const KeepGoing* go_on =
                here ? &state.caller_goes_on_else_cancel : &state.not_cancelled;
            if (state.cancelled) {
              item.outcome = {ECANCELED};
            } else {
              State::RunStep(item, [&] { state.MakeCopy(item, go_on); });
            }
            state.ahead_bytes -= item.steps.size;
          },
          lane);
      // A copy made here heard a stop.
      if (state.cancelled) {
        state.Abandon(state.caller_goes_on);
        return false;
      }
    } else {
      state.MakeCopy(item, &state.caller_goes_on);
      if (item.outcome.error == ECANCELED) {
        state.Abandon(state.caller_goes_on);
        return false;
      }
    }
  }
  if (state.items.size() >= (jobs > 1 ? kBatchFilesSideBySide : kBatchFiles) ||
      state.bytes >= kBatchBytes || state.expected >= kBatchBytes ||
      std::chrono::steady_clock::now() - state.first >= kBatchAge) {
    return Finish();
  }
  return true;
}

bool MoveBatch::RemoveEmptySubfolder(const FolderListing& parent, const std::string& name) {
  State& state = *state_;
  if (!state.Pending()) {
    parent.RemoveEmptySubfolder(name);
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

void MoveBatch::WhenSettled(std::function<bool()> settled) {
  state_->settled = std::move(settled);
}

void MoveBatch::SetJobs(std::size_t jobs) {
  state_->jobs = jobs;
}

bool MoveBatch::Finish() {
  return !state_->Pending() || state_->Commit();
}

void MoveBatch::Abandon() {
  state_->Abandon();
}

}  // namespace qor::platform
