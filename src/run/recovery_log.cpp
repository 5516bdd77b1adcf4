#include "run/recovery_log.h"

#include <optional>

#include "core/message_box.h"
#include "core/numbers.h"
#include "run/log_entries.h"
#include "run/log_escapes.h"
#include "run/log_format.h"

namespace qor {

namespace {

std::string_view WithoutSeparators(std::string_view path) {
  while (path.size() > 1 && path.back() == platform::kSeparator) path.remove_suffix(1);
  return path;
}

// Whether the folders `a` and `b` are one, as written or as the system
// resolves them (a run given its target through a link).
bool SameFolder(const std::string& a, const std::string& b) {
  if (WithoutSeparators(a) == WithoutSeparators(b)) return true;
  const std::string real = platform::RealPath(a);
  return !real.empty() && real == platform::RealPath(b);
}

}  // namespace

bool RecoveryLogWriter::IsEntryFor(const std::string& entry, const std::string& relative,
                                   const std::string& target) const {
  const std::string line = entry + kLineBreak;
  const LogEntries read = ReadLogEntries(line);
  return read.entries.size() == 1 && read.entries[0].kind == LogEntry::Moved &&
         read.entries[0].relative == relative && read.entries[0].text == entry &&
         SameFolder(read.target, target);
}

bool RecoveryLogWriter::BegunEntry(const std::string& line, const std::string& target,
                                   std::string& relative, std::string& entry) const {
  // Only the first piece: an ending, even one cut short, was written after
  // the file's move had ended, and tells it.
  if (line.empty() || line.find(kMovedTo) != std::string::npos ||
      line.find(kNotMoved) != std::string::npos) {
    return false;
  }
  const std::optional<std::string> decoded = DecodeLogText(line);
  if (!decoded || decoded->empty()) return false;
  relative = *decoded;
  entry = line + std::string(kMovedTo) + LogText(target);
  return IsEntryFor(entry, relative, target);
}

bool RecoveryLogWriter::Write(const std::vector<std::string>& entries) {
  for (const std::string& entry : entries) {
    if (!log_.StartEntry(entry, 2) || !log_.AppendLine("")) return false;
  }
  return log_.Flush();
}

void LogRecoveryNotes(const platform::Recovery& recovery, RunLog& log) {
  for (const platform::Recovery::Refused& refused : recovery.refused) {
    log.AppendLine(LogText(refused.path) + std::string(kNotMoved) +
                   "a journal that is not this program's for this folder, left alone (" +
                   refused.why + ")");
  }
  for (const std::string& hidden : recovery.hidden) {
    log.AppendLine(LogText(hidden) + std::string(kNotMoved) +
                   "left under this hidden name by an interrupted run: its name is taken again");
  }
}

std::vector<std::string> RecoveryNotes(std::size_t refused, std::size_t hidden) {
  std::vector<std::string> notes;
  if (refused > 0) {
    notes.push_back(IntegerText(static_cast<std::int64_t>(refused)) +
                    (refused == 1 ? " journal" : " journals") +
                    " of an interrupted run not made by this program for this folder, left alone");
  }
  if (hidden > 0) {
    notes.push_back(IntegerText(static_cast<std::int64_t>(hidden)) +
                    (hidden == 1 ? " file" : " files") +
                    " of an interrupted run left under a hidden name beside their own");
  }
  return notes;
}

std::string JournalProblemText(const std::string& why) {
  return "No run journal could be kept (" + why +
         "): had the run been interrupted, its copies and temporaries would stay behind";
}

}  // namespace qor
