// Moves on Windows are done one at a time, as they are asked for: each copy
// across volumes is flushed on its own. The order of the caller's steps, and
// what each promises, are those of batched moves.

#include "platform/move_batch.h"

#include <exception>

#include "platform/win32/cross_volume_move.h"
#include "platform/win32/listing.h"
#include "platform/win32/wide.h"

namespace qor::platform {

struct MoveBatch::State {
  std::function<bool()> keep_going;
  bool verify = false;
  std::function<void()> settled;
};

MoveBatch::MoveBatch(std::function<bool()> keep_going) : state_(std::make_unique<State>()) {
  state_->keep_going = std::move(keep_going);
}

MoveBatch::~MoveBatch() = default;

bool MoveBatch::Move(const FolderListing& folder, const std::string& name,
                     const TargetFolder& target, Steps steps) {
  if (steps.begin && !steps.begin()) return true;
  Outcome moved;
  bool stopped = false;
  std::exception_ptr failure;
  {
    const CopyProgressCheck check(state_->keep_going, state_->verify);
    try {
      // The move changes nothing the caller can see of `target`.
      moved = MoveIntoTarget(*target.state_, *folder.state_, name, steps.entry);
    } catch (...) {
      // A move throws before it changes anything, or once its copy is
      // undone: the source stayed.
      failure = std::current_exception();
      moved = {ERROR_REQUEST_ABORTED};
    }
    stopped = check.stopped();
  }
  FileIdentity identity;
  if (moved.ok() && !target.IdentityOf(name, identity)) identity = {};
  // An entry begun is always ended, a copy broken off too: its source stayed.
  if (steps.end) steps.end(moved, identity);
  // Each move is done in full before the next: its record goes now.
  if (state_->settled) state_->settled();
  // The run ends on what was thrown, its log true up to here.
  if (failure) std::rethrow_exception(failure);
  return !stopped;
}

bool MoveBatch::RemoveEmptySubfolder(const FolderListing& parent, const std::string& name) {
  parent.RemoveEmptySubfolder(name);
  return true;
}

bool MoveBatch::RemoveEmptyFolder(const std::string& path) {
  if (IsFolderEmpty(path)) RemoveFolder(path);
  return true;
}

void MoveBatch::VerifyCopies() {
  state_->verify = true;
}

void MoveBatch::WhenSettled(std::function<void()> settled) {
  state_->settled = std::move(settled);
}

void MoveBatch::SetJobs(std::size_t) {
  // Each copy is made by the system's own copy, one after the other.
}

bool MoveBatch::Finish() {
  return true;  // nothing is ever pending
}

void MoveBatch::Abandon() {}

}  // namespace qor::platform
