#pragma once

#include <cstdint>
#include <string>

namespace qor {

// What the walk needs of the window: the three counter labels and a yield.
class WalkObserver {
 public:
  virtual ~WalkObserver() = default;

  // Sets the caption of counter label lblNumber(index), index 0 to 2.
  virtual void SetCounterLabel(int index, const std::string& text) = 0;
  // Lets the window handle every waiting event. False tells the walk to give
  // up at once (the window was closed): no further file is moved and the
  // window is not touched again.
  virtual bool Yield() = 0;

  // For callers without a window; the defaults change nothing.
  // Asked before each entry: true ends the walk there, as a refused yield
  // does, so no further file is taken.
  virtual bool StopRequested() { return false; }
  // Each taken file once it has been dealt with: `relative_name` is its
  // place below the source, `moved` says whether it moved (in a dry run:
  // would move). `reason` tells why not where it is known; a real run's
  // reasons are in the run log.
  virtual void FileTaken(const std::string& /*relative_name*/, std::uint64_t /*size*/,
                         bool /*moved*/, const std::string& /*reason*/) {}
  // The run keeps no journal (`why`): said once, as soon as it is known, so
  // that a long run does not wait for its end to say that a kill would
  // leave work no later run finishes.
  virtual void JournalLost(const std::string& /*why*/) {}
  // A folder that could not be listed, or not to its end: `relative_folder`
  // is its place below the source ("" for the source itself).
  virtual void FolderUnread(const std::string& /*relative_folder*/, const std::string& /*reason*/) {
  }
};

}  // namespace qor
