#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qor {

class NameFilter;

// How a file's date is compared with the reference date, component by
// component.
inline constexpr std::int16_t kCompareEqual = 0;   // "="
inline constexpr std::int16_t kCompareBefore = 1;  // "<"
inline constexpr std::int16_t kCompareAfter = 2;   // ">"

// The one record that carries a move run: what to take, from where to where,
// and the running counters.
struct SearchParams {
  bool Recurse = false;
  std::int32_t MovedCount = 0;  // files taken, whether or not the move worked
  std::int64_t MovedKB = 0;     // whole kilobytes of the files taken
  std::int32_t SearchedCount = 0;
  std::string SourcePath;  // ends with "/"
  std::int16_t CompareMode = kCompareEqual;
  std::int32_t Month = 0;
  std::int32_t Day = 0;
  std::int32_t Year = 0;
  std::string TargetPath;  // ends with "/"
  // TargetPath's last folder is the date folder the run adds: the run's
  // journal lies in the folder above, where every later run into it looks.
  bool DateFolder = false;
  bool DeleteEmpty = false;
  // Taken files whose move failed; counted in MovedCount as well, so the
  // final message can tell how many did not move.
  std::int32_t FailedCount = 0;
  // Taken files that another run of this program was moving already: left
  // to it (counted in MovedCount, not in FailedCount).
  std::int32_t HeldByAnotherRun = 0;
  // Walked folders that could not be listed, or not to their end: files in
  // them may match but were not seen.
  std::int32_t UnreadFolders = 0;
  // Files whose move a killed run began and this run finished: logged as
  // moved, not counted in MovedCount.
  std::int32_t RecoveredCount = 0;
  // Taken files that changed during their move and could not get their own
  // name back: left under a hidden name beside it (counted in FailedCount).
  std::int32_t LeftHidden = 0;
  // Journals of killed runs left alone as none of this program's for this
  // folder, and files a killed run left under a hidden name that this run
  // could not give their names back: each named in the log.
  std::int32_t JournalsRefused = 0;
  std::int32_t RecoveryHidden = 0;
  // Why this run kept no journal, so that a kill would have left duplicates
  // or temporaries no later run clears; empty when it kept one.
  std::string JournalProblem;

  // Asked for by the command-line program; the defaults give the walk as the
  // window runs it.
  // "<" and ">" compare whole calendar dates rather than each part alone.
  bool WholeDates = false;
  // Nothing is moved, made or removed: each taken file is only reported,
  // with whether its name below the target is free.
  bool DryRun = false;
  // DeleteEmpty removes only subfolders that the run emptied, never the
  // source folder itself.
  bool EmptiedOnly = false;
  // Each copy across file systems is read back and compared with its source
  // before the source goes.
  bool VerifyCopies = false;
  // Copies across file systems under way at once: 1 one after the other, 0
  // chosen by the file systems.
  std::size_t Jobs = 0;
  // Which files are taken and which folders entered, by name or path below
  // the source; none: every one.
  const NameFilter* Filter = nullptr;
  // Only files of these sizes in bytes (both taken) are taken.
  std::uint64_t MinSize = 0;
  std::uint64_t MaxSize = UINT64_MAX;
  // With Recurse, how many folders deep below the source the walk goes; -1:
  // all the way.
  std::int32_t MaxDepth = -1;
};

}  // namespace qor
