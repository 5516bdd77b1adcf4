#pragma once

#include <set>
#include <string>
#include <vector>

#include "random_tree.h"

namespace qor::testing {

// Checks, after each run over a random tree (finished or killed), that every
// original file is still at its place below one of the two roots with its
// bytes and last-write time, and that nothing else is there but "."-prefixed
// temporaries and the hidden twins of sources taken away in their last step.
// A later run may clear a temporary away, but never moves one. Failures are reported as GoogleTest
// failures.
class KillCheck {
 public:
  KillCheck(const OriginalTree& originals, std::string root_a, std::string root_b)
      : originals_(originals), root_a_(std::move(root_a)), root_b_(std::move(root_b)) {}

  // `log` is the run log of the run from `from_root` to `to_root` (one of the
  // two roots each, ending with "/"): every finished entry must tell the truth.
  void Check(const std::string& from_root, const std::string& to_root, const std::string& log);

  // Taken originals below `root` now.
  int TakenBelow(const std::string& root) const;

  // What the logs of every run so far, in the order of the runs, say of the
  // moves, against where the files are now, after a run that ended: each
  // move of a file that left its folder must be named in exactly one log.
  struct LogFigures {
    int logged_once = 0;   // moves named where the file was to leave
    int logged_twice = 0;  // a move named again, the file already there
    int missing = 0;       // files whose place no log explains
  };
  LogFigures ReplayLogs(const std::vector<std::string>& logs) const;

  int files_checked() const { return files_checked_; }
  int temporaries() const { return static_cast<int>(temporaries_.size()); }
  int duplicates() const { return static_cast<int>(duplicates_.size()); }

 private:
  void CheckLog(const std::string& from_root, const std::string& to_root, const std::string& log,
                const TreeFacts& from, const TreeFacts& to);

  const OriginalTree& originals_;
  std::string root_a_;
  std::string root_b_;
  std::set<std::string> where_a_;  // originals found below root_a at the last check
  std::set<std::string> where_b_;
  std::set<std::string> temporaries_;  // root + relative path
  std::set<std::string> duplicates_;
  int files_checked_ = 0;
};

}  // namespace qor::testing
