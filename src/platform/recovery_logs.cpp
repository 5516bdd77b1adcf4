#include "platform/recovery_logs.h"

#include <map>
#include <utility>

#include "platform/journal_records.h"

namespace qor::platform {

namespace {

// The end of the log, up to an entry's greatest length, and where it began.
bool ReadTail(LogFile& log, std::string& text, std::uint64_t& from) {
  const std::uint64_t size = log.Size();
  from = size > kLogTail ? size - kLogTail : 0;
  return log.IsOpen() && size != 0 && log.Read(from, kLogTail, text);
}

}  // namespace

std::unordered_set<std::string> LoggedLines(const std::vector<LogMark>& marks) {
  std::map<std::pair<std::uint64_t, std::uint64_t>, LogMark> logs;
  for (const LogMark& mark : marks) {
    if (mark.path.empty()) continue;  // the run's log could not be named
    LogMark& latest = logs[{mark.identity.device, mark.identity.inode}];
    if (latest.path.empty() || mark.offset > latest.offset) latest = mark;
  }
  std::unordered_set<std::string> lines;
  for (const auto& [identity, mark] : logs) {
    LogFile log(mark, false);
    // Gone, or short of the mark: none of its entries can be counted on.
    if (!log.IsOpen() || log.Size() <= mark.offset) continue;
    const std::uint64_t from = LoggedSince(mark.offset);
    std::string text;
    log.Read(from, kLargestLogPart, text);
    AddWholeLines(text, from == 0, static_cast<std::size_t>(mark.offset - from), lines);
  }
  return lines;
}

bool CutLastLineOf(const LogMark& mark, std::string& line) {
  LogFile log(mark, false);
  std::string text;
  std::uint64_t from = 0;
  return ReadTail(log, text, from) && CutLastLine(text, from == 0, line);
}

void DropCutLastLine(const LogMark& mark) {
  LogFile log(mark, true);
  std::string text, line;
  std::uint64_t from = 0;
  if (ReadTail(log, text, from) && CutLastLine(text, from == 0, line)) {
    log.CutTo(log.Size() - line.size());
  }
}

}  // namespace qor::platform
