#pragma once

// A run log for the recovery of killed runs, without a file: it takes an
// entry for a file when the entry begins with the file's place and the words
// of a move, holds no control byte, and keeps what it is given.

#include <string>
#include <vector>

#include "platform/files.h"

namespace qor::testing {

class FakeRecoveryLog : public platform::RecoveryLog {
 public:
  // The entry's folder is the real log's to judge (recovery_log_test).
  bool IsEntryFor(const std::string& entry, const std::string& relative,
                  const std::string& /*target*/) const override {
    for (const char c : entry) {
      if (static_cast<unsigned char>(c) < 0x20) return false;
    }
    return entry.starts_with(relative + "      MOVED to   ");
  }
  bool BegunEntry(const std::string& line, const std::string& target, std::string& relative,
                  std::string& entry) const override {
    if (line.empty() || line.find("      ") != std::string::npos) return false;
    relative = line;
    entry = line + "      MOVED to   " + target;
    return IsEntryFor(entry, relative, target);
  }
  platform::LogMark Mark() const override { return mark; }
  bool Write(const std::vector<std::string>& entries) override {
    if (fails) return false;
    written.insert(written.end(), entries.begin(), entries.end());
    return true;
  }

  platform::LogMark mark{"/nowhere/run-log.txt", {}, 0};
  std::vector<std::string> written;
  bool fails = false;
};

}  // namespace qor::testing
