#pragma once

// A seam at the system's door: this test program's own definitions of a few
// calls stand in front of the C library's, so that a test can see the order
// in which the file layer syncs, renames and removes, and can act at the
// very moment before one of them.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/temporary_names.h"

namespace qor::testing {

struct SyscallEvent {
  // "syncfs", "fsync", "fdatasync", "rename", "link", "unlink", "times" (a
  // copy's times set), or "stat" of a name of ours
  std::string call;
  std::string from;  // the name renamed or removed; "folder" for a folder's sync
  std::string to;    // the new name of a rename; the folder's path for its sync
};

// A question for SyscallSeam::before that is yes at the first sync after a
// copy took its name (the sync of its folder), and from then on.
inline std::function<bool(const SyscallEvent&)> AtTheFirstSyncOnceACopyIsPlaced() {
  return [placed = false](const SyscallEvent& e) mutable {
    placed = placed || e.call == "link" ||
             (e.call == "rename" && e.from.starts_with(platform::kTemporaryPrefix));
    return placed && e.call == "fsync";
  };
}

// Records while it lives; one at a time.
class SyscallSeam {
 public:
  SyscallSeam();
  ~SyscallSeam();
  SyscallSeam(const SyscallSeam&) = delete;
  SyscallSeam& operator=(const SyscallSeam&) = delete;

  std::vector<SyscallEvent> Events();
  // Runs before each recorded call goes to the system, on the caller's thread.
  std::function<void(const SyscallEvent&)> before;
  // Every file system says it is FUSE, as a share mounted through it would.
  bool remote = false;
  // A rename this answers with an error number fails with it, untried.
  std::function<int(const SyscallEvent&)> fail;

  // The seam at work, or nullptr.
  static SyscallSeam* Active();
  void Record(const SyscallEvent& event);

 private:
  std::mutex mutex_;
  std::vector<SyscallEvent> events_;
};

// Hands a call to the seam at work, if any.
void Seen(const SyscallEvent& event);
// The error the seam at work fails the call with; 0 to make it.
int Failing(const SyscallEvent& event);

}  // namespace qor::testing
