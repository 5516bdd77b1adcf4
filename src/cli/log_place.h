#pragma once

#include <optional>
#include <string>

#include "run/run_log.h"

namespace qor::cli {

// Opens the log a command writes, never over a file that holds something:
// a run's record of its moves is what undo needs, and a user's file is not
// ours to empty.
// - Without `asked`, `default_name` is used when it is missing or empty,
//   else the next free name beside it ("FileFind20210615-2.txt", -3, ...).
// - `asked` is used when it is missing or empty; one that holds a run log
//   is kept and the next free name beside it taken, as for the default, so
//   that a fixed --log in a nightly job goes on working. Anything else is
//   refused: a file that holds something else, and a device, a pipe or a
//   folder, which keeps no record; so is a place inside `source` (the run
//   would move or skip the log itself).
// Returns the path written to, or nullopt after saying on stderr why not.
// `made`, where given, tells whether no file of the log's name was there
// before.
std::optional<std::string> OpenCommandLog(RunLog& log, const std::optional<std::string>& asked,
                                          const std::string& default_name,
                                          const std::string& source, bool* made = nullptr);

// `path` as an absolute path, with the separator at its end where it had
// one, for records that must lead to the same place from anywhere: as given
// where it is one, else as the system resolves it, else (not there yet)
// below the current folder.
std::string AbsolutePath(const std::string& path);

}  // namespace qor::cli
