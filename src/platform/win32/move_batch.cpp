// Moves on Windows. On one volume each is a rename, done at once. Across
// volumes the copies of a batch are made side by side, then flushed side by
// side, put in place together and flushed again side by side, and only then
// are their sources removed, in the order asked for: a device that waits
// for each flush waits once per batch, not once per file, and a share's
// round trips overlap.

#include "platform/move_batch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <exception>
#include <future>
#include <map>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/batch_limits.h"
#include "platform/win32/cross_volume_move.h"
#include "platform/win32/listing.h"
#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

// Copies (unless told otherwise) and flushes under way at once: each waits
// for the device, and the waits overlap.
constexpr std::size_t kFlushJobs = 8;

bool NoRoom(const Outcome& outcome) {
  return outcome.error == ERROR_DISK_FULL || outcome.error == ERROR_HANDLE_DISK_FULL;
}

}  // namespace

struct MoveBatch::State {
  std::function<bool()> keep_going;
  bool verify = false;
  std::function<bool(bool durable)> settled;
  // What `keep_going` said while the batch's steps ran on this thread.
  std::chrono::steady_clock::time_point last_asked;
  bool stop_heard = false;
  std::exception_ptr failure_heard;

  struct Item {
    Steps steps;
    std::wstring from, to;  // the source, and its place in the target
    VolumeCopy copy;
    Outcome outcome;
    RunJournal* journal = nullptr;
  };
  std::deque<Item> items;
  std::uint64_t bytes = 0;  // as the walk saw them: the copies are made later
  std::chrono::steady_clock::time_point first;
  std::atomic<bool> cancelled = false;  // the copies under way are broken off
  std::size_t jobs = kFlushJobs;

  // Whether moves from a source volume onto a target volume cross, learnt
  // from the first move between them; the source folder's volume, kept.
  std::map<std::pair<std::uint64_t, std::uint64_t>, bool> crosses;
  std::wstring last_folder;
  std::uint64_t last_volume = 0;

  std::uint64_t VolumeOf(const FolderListing::State& folder) {
    if (folder.folder != last_folder || last_volume == 0) {
      last_folder = folder.folder;
      last_volume = HandleIdentity(folder.folder_handle.get()).device;
    }
    return last_volume;
  }

  // Runs `work` for each item still on its way, on up to `threads` threads,
  // while `keep_going` is asked every 100 ms; false when it said stop. The
  // work runs to its end (a flush cannot be broken off); copies made under a
  // CopyCancel of `cancelled` are broken off once it said stop. What `work`
  // or `keep_going` throws is thrown again once every thread has ended.
  template <typename Work>
  bool SideBySide(std::size_t threads, Work work) {
    cancelled = false;
    std::vector<Item*> due;
    for (Item& item : items) {
      if (item.outcome.ok()) due.push_back(&item);
    }
    std::atomic<std::size_t> next = 0;
    const auto worker = [&] {
      for (std::size_t i; (i = next++) < due.size();) {
        try {
          work(*due[i]);
        } catch (const std::bad_alloc&) {
          due[i]->copy.Discard();
          due[i]->outcome = {ERROR_NOT_ENOUGH_MEMORY};
        }
      }
    };
    std::vector<std::future<void>> running;
    for (std::size_t j = 0; j < std::min(due.size(), threads); ++j) {
      try {
        running.push_back(std::async(std::launch::async, worker));
      } catch (const std::system_error&) {
        break;
      }
    }
    if (running.empty()) {
      // No thread to be had: the work is done here, and a copy asks the
      // window itself as it goes.
      bool stopped = false;
      {
        const CopyProgressCheck check(keep_going);
        worker();
        stopped = check.stopped();
      }
      return !stopped && (!keep_going || keep_going());
    }
    bool go_on = true;
    std::exception_ptr thrown;
    for (std::future<void>& one : running) {
      while (one.wait_for(kKeepGoingEvery) != std::future_status::ready) {
        // Asked also once it said stop: a window must go on living while
        // the work under way comes to its end.
        if (thrown || !keep_going) continue;
        try {
          if (!keep_going()) go_on = false;
        } catch (...) {
          thrown = std::current_exception();
        }
        if (!go_on || thrown) cancelled = true;
      }
    }
    for (std::future<void>& one : running) {
      try {
        one.get();
      } catch (...) {
        if (!thrown) thrown = std::current_exception();
      }
    }
    if (thrown) std::rethrow_exception(thrown);
    return go_on;
  }

  // Between the steps of a batch that run on this thread one after the
  // other (a round trip each on a share, seconds for a whole batch),
  // `keep_going` is asked at least every 100 ms, so that the window goes on
  // living. A stop is heard at the removals of the sources: those not yet
  // removed stay, their copies go, so that the moves end in walk order and
  // none follows the user's answer; the placements before go on to their end.
  void Heed() {
    if (!keep_going || failure_heard) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_asked < kKeepGoingEvery / 2) return;
    last_asked = now;
    try {
      if (!keep_going()) stop_heard = true;
    } catch (...) {
      failure_heard = std::current_exception();
    }
  }

  bool Commit();
  void Abandon() noexcept;
};

bool MoveBatch::State::Commit() {
  stop_heard = false;
  failure_heard = nullptr;
  try {
    // 0. Every copy made. One that found no room while others were being
    // made beside it is made once more, alone: the room may have been
    // theirs, and copies side by side must fail no file that one at a time
    // would move.
    if (!SideBySide(jobs, [this](Item& item) {
          if (cancelled) {
            item.outcome = {ERROR_REQUEST_ABORTED};
            return;
          }
          const CopyCancel cancel(cancelled);
          item.outcome = item.copy.Make(item.from, item.to, item.journal);
        })) {
      Abandon();
      return false;
    }
    for (Item& item : items) {
      if (!NoRoom(item.outcome)) continue;
      bool stopped = false;
      {
        const CopyProgressCheck check(keep_going);
        item.outcome = item.copy.Make(item.from, item.to, item.journal);
        stopped = check.stopped();
      }
      if (stopped) {
        Abandon();
        return false;
      }
    }
    // 1. Every copy on the disk and checked against its source.
    if (!SideBySide(kFlushJobs, [](Item& item) { item.outcome = {item.copy.Flush()}; })) {
      Abandon();
      return false;
    }
    // 2. The journal names every copy about to be placed, on the disk too.
    last_asked = std::chrono::steady_clock::now();
    std::vector<RunJournal*> journals;
    for (Item& item : items) {
      if (!item.outcome.ok() || item.journal == nullptr) continue;
      item.copy.RecordPlacing(*item.journal, item.steps.entry);
      if (std::find(journals.begin(), journals.end(), item.journal) == journals.end()) {
        journals.push_back(item.journal);
      }
    }
    for (RunJournal* journal : journals) {
      // A journal lost now names none of them: none is placed.
      if (const int lost = journal->Sync()) {
        for (Item& item : items) {
          if (item.journal != journal || !item.outcome.ok()) continue;
          item.copy.Discard();
          item.outcome = {lost};
        }
      }
      Heed();
    }
    // 3. Each copy under its name, never replacing; then each folder that
    // gained names flushed once, or where its file system cannot flush a
    // folder, each copy in it under its new name.
    std::vector<std::wstring> folders;
    for (Item& item : items) {
      if (!item.outcome.ok()) continue;
      Heed();
      item.outcome = item.copy.Place();
      if (item.outcome.ok() &&
          std::find(folders.begin(), folders.end(), item.copy.Folder()) == folders.end()) {
        folders.push_back(item.copy.Folder());
      }
    }
    std::vector<std::wstring> unflushed;
    for (const std::wstring& folder : folders) {
      Heed();
      if (FlushFolder(folder) != 0) unflushed.push_back(folder);
    }
    const bool verify_copies = verify;
    if (!SideBySide(kFlushJobs, [&unflushed, verify_copies](Item& item) {
          if (std::find(unflushed.begin(), unflushed.end(), item.copy.Folder()) !=
              unflushed.end()) {
            item.outcome = {item.copy.FlushPlaced()};
          }
          if (item.outcome.ok() && verify_copies) item.outcome = {item.copy.Verify()};
        })) {
      Abandon();
      return false;
    }
  } catch (...) {
    Abandon();
    throw;
  }
  // 4. In the order asked for: each source removed when still unchanged.
  // Once a stop is heard, the rest is given up as a stop between batches
  // would: copies gone, sources where they were, nothing logged.
  for (Item& item : items) {
    Heed();
    if (stop_heard || failure_heard) {
      item.copy.Discard();
      continue;
    }
    if (item.steps.begin && !item.steps.begin()) {
      item.copy.Discard();
      continue;
    }
    if (item.outcome.ok()) item.outcome = item.copy.RemoveSource();
    if (item.steps.end) {
      item.steps.end(item.outcome, item.outcome.ok() ? item.copy.PlacedIdentity() : FileIdentity{});
    }
  }
  // Every source of the batch has gone or stays, every copy is in place or
  // gone: nothing the journal names is pending any more.
  const bool logged = !settled || settled(true);
  for (const Item& item : items) {
    if (item.journal != nullptr) {
      // Moves made whose entries the log would not take: the next run logs
      // them from the journal.
      logged ? item.journal->Clear() : item.journal->Keep();
      break;
    }
  }
  items.clear();
  bytes = 0;
  if (failure_heard) std::rethrow_exception(std::exchange(failure_heard, nullptr));
  return !stop_heard;
}

void MoveBatch::State::Abandon() noexcept {
  RunJournal* journal = nullptr;
  for (Item& item : items) {
    item.copy.Discard();
    if (item.journal != nullptr) journal = item.journal;
  }
  if (journal != nullptr) journal->Clear();
  items.clear();
  bytes = 0;
}

MoveBatch::MoveBatch(std::function<bool()> keep_going) : state_(std::make_unique<State>()) {
  state_->keep_going = std::move(keep_going);
}

MoveBatch::~MoveBatch() {
  state_->Abandon();
}

bool MoveBatch::Move(const FolderListing& folder, const std::string& name,
                     const TargetFolder& target, Steps steps) {
  State& state = *state_;
  const FolderListing::State& from = *folder.state_;
  TargetPlace place;
  const bool listed = from.folder_handle.IsValid() && PlaceInTarget(*target.state_, name, place);
  const auto volumes = std::make_pair(listed ? state.VolumeOf(from) : 0, place.volume);
  const auto known = state.crosses.find(volumes);
  const bool batched = listed && volumes.first != 0 && volumes.second != 0 &&
                       known != state.crosses.end() && known->second;

  if (!batched) {
    // A rename, or the first move between two volumes, which finds out
    // whether they differ: at once, after the moves before it.
    if (!Finish()) return false;
    if (steps.begin && !steps.begin()) return true;
    Outcome moved;
    bool stopped = false;
    bool across = false;
    std::exception_ptr failure;
    {
      const CopyProgressCheck check(state.keep_going, state.verify);
      try {
        // The move changes nothing the caller can see of `target`.
        moved = MoveIntoTarget(*target.state_, from, name, steps.entry, &across);
      } catch (...) {
        // A move throws before it changes anything, or once its copy is
        // undone: the source stayed.
        failure = std::current_exception();
        moved = {ERROR_REQUEST_ABORTED};
      }
      stopped = check.stopped();
    }
    if (listed && volumes.first != 0 && volumes.second != 0 && known == state.crosses.end() &&
        (moved.ok() || across)) {
      state.crosses[volumes] = across;
    }
    FileIdentity identity;
    if (moved.ok() && !target.IdentityOf(name, identity)) identity = {};
    // An entry begun is always ended, a copy broken off too: its source stayed.
    if (steps.end) steps.end(moved, identity);
    // The move is done in full: its record goes once the log holds it;
    // where the log would not take it, the journal keeps it for a later run
    // to log.
    const bool logged = !state.settled || state.settled(true);
    if (RunJournal* journal = steps.entry.empty() || !across ? nullptr : place.journal) {
      logged ? journal->Clear() : journal->Keep();
    }
    // The run ends on what was thrown, its log true up to here.
    if (failure) std::rethrow_exception(failure);
    return !stopped;
  }

  if (state.items.empty()) state.first = std::chrono::steady_clock::now();
  State::Item& item = state.items.emplace_back();
  item.steps = std::move(steps);
  // Only a move with its log entry is recorded: a later run logs what it
  // finishes.
  item.journal = item.steps.entry.empty() ? nullptr : place.journal;
  item.from = from.folder + Widen(name);
  item.to = place.to;
  state.bytes += item.steps.size;
  if (state.items.size() >= kBatchFiles || state.bytes >= kBatchBytes ||
      std::chrono::steady_clock::now() - state.first >= kBatchAge) {
    return Finish();
  }
  return true;
}

bool MoveBatch::RemoveEmptySubfolder(const FolderListing& parent, const std::string& name) {
  // After the moves out of it.
  if (!Finish()) return false;
  parent.RemoveEmptySubfolder(name);
  return true;
}

bool MoveBatch::RemoveEmptyFolder(const std::string& path) {
  if (!Finish()) return false;
  if (IsFolderEmpty(path)) RemoveFolder(path);
  return true;
}

void MoveBatch::VerifyCopies() {
  state_->verify = true;
}

void MoveBatch::WhenSettled(std::function<bool(bool durable)> settled) {
  state_->settled = std::move(settled);
}

void MoveBatch::SetJobs(std::size_t jobs) {
  state_->jobs = jobs == 0 ? kFlushJobs : jobs;
}

bool MoveBatch::Finish() {
  return state_->items.empty() || state_->Commit();
}

void MoveBatch::Abandon() {
  state_->Abandon();
}

}  // namespace qor::platform
