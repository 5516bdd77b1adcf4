#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qor {

// One line of a run log, as undo sees it.
struct LogEntry {
  enum Kind {
    Moved,       // recorded as moved
    NotMoved,    // taken but not moved, or cut off before its end
    Unreadable,  // not an entry either program writes
  };
  // The file's place below the source and the target folder it went to,
  // decoded.
  struct Reading {
    std::string relative;
    std::string target;
  };
  Kind kind = Unreadable;
  // The ways a Moved line can be read; more than one only when a name itself
  // holds the text that separates the two.
  std::vector<Reading> readings;
};

// Every entry of a run log, in its order. The log's lines end with CR LF; a
// last line without one was cut off.
std::vector<LogEntry> ReadLogEntries(std::string_view log);

}  // namespace qor
