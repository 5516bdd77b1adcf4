#include "platform/move_batch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <memory>
#include <system_error>
#include <vector>

#include "platform/posix/cross_device_move.h"
#include "platform/posix/fd.h"
#include "platform/posix/listing_state.h"

namespace qor::platform {

namespace {

// A batch is made durable when it holds this many files or bytes, or its
// first copy is this old, whichever comes first.
constexpr std::size_t kBatchFiles = 256;
constexpr std::uint64_t kBatchBytes = 64 << 20;
constexpr auto kBatchAge = std::chrono::milliseconds(500);
constexpr auto kKeepGoingEvery = std::chrono::milliseconds(100);

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

}  // namespace

struct MoveBatch::State {
  KeepGoing keep_going;

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
  };
  std::vector<Item> items;
  std::uint64_t bytes = 0;
  std::chrono::steady_clock::time_point first;
  std::shared_ptr<SharedFolder> last_from, last_to;
  // Hard-linked sources: what removing one name did to the others.
  OwnChanges own_changes;
  bool verify = false;  // each copy read back before its source goes

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
      return !keep_going || keep_going();
    }
    bool go_on = true;
    while (done.wait_for(kKeepGoingEvery) != std::future_status::ready) {
      if (keep_going && !keep_going()) go_on = false;
    }
    result = done.get();
    return go_on;
  }
  bool Commit();
  void Abandon();
};

bool MoveBatch::State::Commit() {
  // 1. Every copy durable, and the journal that names them before they are
  // placed: one sync per target file system.
  for (Item& item : items) {
    if (item.kind == Item::Kind::Move && item.outcome.ok() && item.journal != nullptr) {
      item.journal->Placing(item.from->fd(), item.name, item.to->fd(), item.name, item.steps.entry);
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
          if (journal != nullptr) journal->Sync();
          return ::syncfs(fd) == 0 ? 0 : errno;
        },
        error);
    if (!go_on) {
      Abandon();
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
  std::vector<std::shared_ptr<SharedFolder>> touched;
  for (Item& item : items) {
    if (item.kind != Item::Kind::Move || !item.outcome.ok()) continue;
    item.outcome = item.copy.Place(item.to->fd(), item.name);
    if (item.outcome.ok() && (touched.empty() || touched.back() != item.to)) {
      touched.push_back(item.to);
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
  // 3. In the order asked for: each source removed when still unchanged,
  // each folder removed when empty by then.
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
  // gone: nothing the journal names is pending any more.
  for (const Item& item : items) {
    if (item.journal != nullptr) {
      item.journal->Clear();
      break;
    }
  }
  items.clear();
  bytes = 0;
  return true;
}

void MoveBatch::State::Abandon() {
  RunJournal* journal = nullptr;
  for (Item& item : items) {
    if (item.kind == Item::Kind::Move) item.copy.Discard(item.to->fd(), item.name);
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
    FileIdentity placed;
    const Outcome moved = MoveAt(from.fd, name, to.Current(), name, &placed);
    steps.end(moved, placed);
    return true;
  }

  State::Item item;
  item.steps = std::move(steps);
  item.from = state.Share(state.last_from, from.fd, from.identity);
  item.to = state.Share(state.last_to, to.Current(), to.CurrentIdentity());
  item.name = name;
  if (item.from->error() != 0 || item.to->error() != 0) {
    item.outcome = {item.from->error() != 0 ? item.from->error() : item.to->error()};
  } else {
    item.journal = to.Journal();
    item.outcome = item.copy.Make(item.from->fd(), name, item.to->fd(), name, false,
                                  &state.keep_going, item.journal);
    if (item.outcome.error == ECANCELED) {
      state.Abandon();
      return false;
    }
  }
  if (!state.Pending()) state.first = std::chrono::steady_clock::now();
  state.bytes += item.outcome.ok() ? item.copy.Size() : 0;
  state.items.push_back(std::move(item));
  if (state.items.size() >= kBatchFiles || state.bytes >= kBatchBytes ||
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

bool MoveBatch::Finish() {
  return !state_->Pending() || state_->Commit();
}

void MoveBatch::Abandon() {
  state_->Abandon();
}

}  // namespace qor::platform
