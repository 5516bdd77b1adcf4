#include "run/log_entries.h"

#include "platform/files.h"
#include "platform/path_parts.h"
#include "run/log_escapes.h"
#include "run/log_format.h"

namespace qor {

namespace {

// A place below the source as the walk writes it: names joined by the
// separator, none of them empty or hidden, so that undo can never be led
// out of SOURCE by a log that was edited.
bool IsRelativePlace(const std::string& relative) {
  for (const std::string_view part :
       platform::SplitPath(std::string_view(relative), platform::kSeparator)) {
    if (part.empty() || part.front() == '.') return false;
  }
  return true;
}

LogEntry ReadLine(std::string_view line) {
  LogEntry entry;
  std::size_t at = line.find(kMovedTo);
  if (at == std::string_view::npos) {
    // Not recorded as moved, whatever else it says.
    entry.kind = LogEntry::NotMoved;
    return entry;
  }
  // Each place where the separator stands is a way to read the line; the
  // target part always ends with a folder separator.
  for (; at != std::string_view::npos; at = line.find(kMovedTo, at + 1)) {
    const auto relative = DecodeLogText(line.substr(0, at));
    const auto target = DecodeLogText(line.substr(at + kMovedTo.size()));
    if (!relative || !target || target->empty() || target->back() != platform::kSeparator ||
        !IsRelativePlace(*relative)) {
      continue;
    }
    entry.readings.push_back({*relative, *target});
  }
  if (!entry.readings.empty()) {
    entry.kind = LogEntry::Moved;
  } else {
    entry.kind =
        line.find(kNotMoved) != std::string_view::npos ? LogEntry::NotMoved : LogEntry::Unreadable;
  }
  return entry;
}

}  // namespace

std::vector<LogEntry> ReadLogEntries(std::string_view log) {
  std::vector<LogEntry> entries;
  while (!log.empty()) {
    const std::size_t end = log.find("\r\n");
    if (end == std::string_view::npos) {
      // A line without its end: the run ended before it dealt with the file.
      entries.push_back({LogEntry::NotMoved, {}});
      break;
    }
    entries.push_back(ReadLine(log.substr(0, end)));
    log.remove_prefix(end + 2);
  }
  return entries;
}

}  // namespace qor
