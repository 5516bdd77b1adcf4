#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qor {

// The longest line undo reads; a longer one is refused as damaged. A real
// entry holds two paths, each at most four bytes for every byte of the name.
inline constexpr std::size_t kLongestLogLine = std::size_t{1} << 20;

// One line of a run log, as undo sees it.
struct LogEntry {
  enum Kind {
    Moved,       // recorded as moved into the log's target folder
    NotMoved,    // taken but not moved, or cut off before its end
    Damaged,     // written as moved, but not as either program writes it
    Unreadable,  // no entry either program writes
  };
  Kind kind = Unreadable;
  std::size_t line = 0;   // counted from 1
  std::string_view text;  // the line as the log holds it, a view into the text read
  // For a Moved entry, the file's place below the source, decoded.
  std::string relative;
};

// What undo can trust of a run log.
struct LogEntries {
  std::vector<LogEntry> entries;  // every line, in its order
  // The target folder every Moved entry went to, decoded; empty when none.
  std::string target;
  // Whether some line reads as an entry either program writes; a file where
  // none does is no run log.
  bool any_entry = false;
};

// Every entry of a run log, judged in time linear in its size. The log's
// lines end with CR LF; a last line without one was cut off. A run writes
// one target folder into all its moved entries: an entry naming another is
// refused as damaged.
LogEntries ReadLogEntries(std::string_view log);

}  // namespace qor
