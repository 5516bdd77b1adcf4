#pragma once

#include <string>

#include "run/run_log.h"
#include "run/search_params.h"
#include "run/walk_observer.h"

namespace qor {

enum class WalkEnd { Finished, Abandoned };

// Walks `path` (ending with "/", starting with params.SourcePath): takes every
// file whose date stands in the chosen relation to the reference date, moves
// it to the same relative place below params.TargetPath, logs it and keeps the
// counters; descends into subfolders first when params.Recurse is set and
// removes walked folders that end up empty when params.DeleteEmpty is set.
// Returns Abandoned when a yield told it to give up.
WalkEnd FindFile(const std::string& path, SearchParams& params, RunLog& log, WalkObserver& window);

// True when a file dated (year, month, day) is taken under params' compare
// mode and reference date.
bool IsTaken(const SearchParams& params, int year, int month, int day);

}  // namespace qor
