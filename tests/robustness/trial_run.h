#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "run/find_file.h"
#include "run/log_escapes.h"
#include "run/log_format.h"
#include "run/run_log.h"
#include "support/temp_tree.h"
#include "tree_facts.h"

namespace qor::testing {

// One recursive walk from a fresh source folder (in the build folder unless
// told otherwise) to a fresh target folder below `target_parent`, with its
// run log.
class TrialRun {
 public:
  explicit TrialRun(const std::string& target_parent = BuildParent(),
                    const std::string& source_parent = BuildParent())
      : source_folder_(source_parent), target_folder_(target_parent) {
    UseTrialOptions(source_folder_.slash(), target_folder_.slash(), params);
  }

  // A recursive run that removes emptied folders and takes files dated "<"
  // 15 June 2021, from `source` to `target`.
  static void UseTrialOptions(const std::string& source, const std::string& target,
                              SearchParams& params) {
    params.SourcePath = source;
    params.TargetPath = target;
    params.Recurse = true;
    params.DeleteEmpty = true;
    params.CompareMode = kCompareBefore;
    params.Year = 2021;
    params.Month = 6;
    params.Day = 15;
  }

  const std::string& source() const { return params.SourcePath; }
  const std::string& target() const { return params.TargetPath; }
  std::string log_path() const { return logs_.slash() + "FileFind20210615.txt"; }

  // Walks and returns the run log's text.
  std::string Walk(WalkObserver& observer) {
    RunLog log;
    if (!log.Create(log_path()).ok()) std::abort();
    end = FindFile(params.SourcePath, params, log, observer);
    if (!log.Close().ok()) std::abort();
    return ReadFile(log_path());
  }

  // The log line of a file moved from the relative place `relative`.
  std::string MovedLine(const std::string& relative) const {
    return LogText(relative) + std::string(kMovedTo) + LogText(target());
  }
  static std::string NotMovedLine(const std::string& relative, const std::string& reason) {
    return LogText(relative) + std::string(kNotMoved) + reason;
  }

  SearchParams params;
  WalkEnd end = WalkEnd::Finished;

 private:
  TempFolder source_folder_;
  TempFolder target_folder_;
  TempFolder logs_;
};

// A date the run of a TrialRun takes ("<" 15 June 2021), and one it does not.
inline std::int64_t TakenDate() {
  return UtcSeconds(2020, 5, 10, 8, 30);
}
inline std::int64_t KeptDate() {
  return UtcSeconds(2021, 7, 1);
}

// The lines of a run log, sorted, after checking that it ends with a whole
// line: the walk's order follows the listing, the tests compare sets.
inline std::vector<std::string> SortedLines(const std::string& log) {
  LogLines split = SplitLog(log);
  if (!split.partial.empty()) split.lines.push_back("<no line end>" + split.partial);
  std::sort(split.lines.begin(), split.lines.end());
  return split.lines;
}
inline std::vector<std::string> Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The file systems a target may lie on: the source's own, and /dev/shm where
// it is another one.
struct TargetPlace {
  const char* label;
  std::string parent;
};
inline std::vector<TargetPlace> TargetPlaces() {
  std::vector<TargetPlace> places = {{"one file system", BuildParent()}};
  if (!SameFileSystem(BuildParent(), "/dev/shm")) {
    places.push_back({"across file systems", "/dev/shm"});
  }
  return places;
}

}  // namespace qor::testing
