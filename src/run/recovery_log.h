#pragma once

// The run log as the recovery of killed runs sees it: it judges the entries
// a journal holds, and takes those of the moves no log records yet.

#include <string>
#include <vector>

#include "platform/files.h"
#include "run/run_log.h"

namespace qor {

class RecoveryLogWriter : public platform::RecoveryLog {
 public:
  explicit RecoveryLogWriter(RunLog& log) : log_(log) {}

  bool IsEntryFor(const std::string& entry, const std::string& relative,
                  const std::string& target) const override;
  bool BegunEntry(const std::string& line, const std::string& target, std::string& relative,
                  std::string& entry) const override;
  platform::LogMark Mark() const override { return log_.Mark(); }
  bool Write(const std::vector<std::string>& entries) override;

 private:
  RunLog& log_;
};

// Writes what the recovery found but could not finish into `log`, one line
// each, in the form of a file not moved, so that readers of the log skip it:
// journals left alone, and sources left under a hidden name.
void LogRecoveryNotes(const platform::Recovery& recovery, RunLog& log);

// The closing words for what the recovery could not finish, one line each;
// empty when it finished everything.
std::vector<std::string> RecoveryNotes(std::size_t refused, std::size_t hidden);

// The words for a run that kept no journal, `why` being the reason.
std::string JournalProblemText(const std::string& why);

}  // namespace qor
