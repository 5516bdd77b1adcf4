#pragma once

#include <string>
#include <string_view>

#include "run/run_log.h"
#include "run/search_params.h"
#include "run/walk_observer.h"

namespace qor {

// The separator after the relative folder and name of a successfully moved
// file, before the target folder.
inline constexpr std::string_view kMovedTo = "      MOVED to   ";
// Ends the entry of a taken file whose move failed, before the reason.
inline constexpr std::string_view kNotMoved = "      NOT MOVED: ";

enum class WalkEnd { Finished, Abandoned };

// Walks `path` (ending with "/", starting with params.SourcePath): takes every
// file whose date stands in the chosen relation to the reference date, moves
// it to the same relative place below params.TargetPath, logs it and keeps the
// counters; descends into subfolders first when params.Recurse is set and
// removes walked folders that end up empty when params.DeleteEmpty is set.
// Returns Abandoned when a yield told it to give up.
WalkEnd FindFile(const std::string& path, SearchParams& params, RunLog& log, WalkObserver& window);

// The text up to, not including, its first NUL byte.
std::string TrimAtNull(std::string_view text);

// The path with a "/" appended unless it already ends with one.
std::string AddBackslash(const std::string& path);

// True when a file dated (year, month, day) is taken under params' compare
// mode and reference date.
bool IsTaken(const SearchParams& params, int year, int month, int day);

// A name as written into the run log: control bytes (line breaks among them)
// and the backslash appear as \xHH, so that every entry stays on one line and
// names exactly one file.
std::string LogText(std::string_view text);

}  // namespace qor
