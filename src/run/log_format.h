#pragma once

// The words of a run log entry and how one ends; the walker and undo write
// their entries alike, and undo reads back what either wrote.

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace qor {

// The separator after the relative folder and name of a successfully moved
// file, before the target folder.
inline constexpr std::string_view kMovedTo = "      MOVED to   ";
// Ends the entry of a taken file whose move failed, before the reason.
inline constexpr std::string_view kNotMoved = "      NOT MOVED: ";
// A reason in the log is cut to this length, so its room is known ahead.
inline constexpr std::size_t kLongestReason = 200;

// The rest of a taken file's entry after its name, the line end not included.
struct EntryEnding {
  std::string text;    // kMovedTo and the target folder, or kNotMoved and the reason
  std::string reason;  // as written, for a file not moved; empty for a moved one
};

// The ending of a taken file's entry: the folder it went to, `target`, when
// `moved` is ok, otherwise the system's reason cut to kLongestReason.
EntryEnding EndEntry(const platform::Outcome& moved, std::string_view target);

// The most an entry can need after its name, line end included, for files
// moved to `target`: reserved before the move, so that a file that moved is
// never recorded as not.
std::size_t EntryEndingRoom(std::string_view target);

}  // namespace qor
