#pragma once

#include "cli/options.h"

namespace qor::cli {

// Exit statuses.
inline constexpr int kAllMoved = 0;
inline constexpr int kSomeFailed = 1;  // files not moved, or folders not read
inline constexpr int kRefused = 2;     // a usage error or a refused start: nothing moved
inline constexpr int kInterrupted = 130;

// The two commands; each returns the exit status.
int MoveCommand(const Options& options);
int UndoCommand(const Options& options);

}  // namespace qor::cli
