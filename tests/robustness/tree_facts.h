#pragma once

// What the robustness tests need to prove that no file was lost: a record of
// every non-folder entry of a tree (bytes, size, last-write time, link
// target), taken through descriptors so that trees deeper than PATH_MAX can be
// read too, and helpers to build such trees and read run logs.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "run/walk_observer.h"
#include "support/file_systems.h"

namespace qor::testing {

struct FileFacts {
  bool is_link = false;
  std::uint64_t size = 0;
  std::uint64_t hash = 0;    // of the bytes, or of the link target
  std::int64_t seconds = 0;  // last write
  long nanoseconds = 0;

  bool SameContent(const FileFacts& other) const {
    return is_link == other.is_link && size == other.size && hash == other.hash;
  }
  bool SameContentAndTime(const FileFacts& other) const {
    return SameContent(other) && seconds == other.seconds && nanoseconds == other.nanoseconds;
  }
};

// Relative path ("a/b/name") of every entry below `root` that is no folder.
// A missing root gives an empty record; any other failure to read aborts the
// test program, since a record with holes would hide a loss.
using TreeFacts = std::map<std::string, FileFacts>;
TreeFacts RecordTree(const std::string& root);

// The hash a record gives to these bytes as a file's content.
std::uint64_t ContentHash(std::string_view bytes);

// Creates `name` in the open folder `dir_fd` with `content` and the given
// last-write time; aborts on failure.
void WriteFileAt(int dir_fd, const std::string& name, std::string_view content,
                 std::int64_t seconds, long nanoseconds = 0);

// Creates the folder `name` in `dir_fd` and returns it opened; aborts on
// failure.
int MakeFolderAt(int dir_fd, const std::string& name);

// A run log split at its CR LF line ends. `partial` holds what follows the
// last line end (a line cut short by a killed run).
struct LogLines {
  std::vector<std::string> lines;
  std::string partial;
};
LogLines SplitLog(const std::string& text);

// Counts yields and calls a hook at each, to change the tree mid-walk.
class HookedObserver : public WalkObserver {
 public:
  void SetCounterLabel(int, const std::string&) override {}
  bool Yield() override {
    ++yields;
    if (on_yield) on_yield(yields);
    return close_at == 0 || yields < close_at;
  }
  int yields = 0;
  int close_at = 0;  // the yield at which the window closes; 0 for never
  std::function<void(int)> on_yield;
};

}  // namespace qor::testing
