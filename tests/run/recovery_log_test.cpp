#include "run/recovery_log.h"

#include <gtest/gtest.h>

#include <string>

#include "run/log_escapes.h"
#include "run/log_format.h"

namespace qor {
namespace {

const std::string kTarget = std::string("t") + platform::kSeparator;
const std::string kSub = std::string("sub") + platform::kSeparator;

// A journal's entry is written into the run log only when it is one entry,
// for the very file the journal's record names, into the journal's own
// target folder, as the walker writes it.
TEST(RecoveryLogTest, TakesOnlyAnEntryForTheRecordsOwnFile) {
  const std::string elsewhere = std::string("key") + platform::kSeparator;
  const struct {
    const char* label;
    std::string entry, relative;
    bool taken;
  } cases[] = {
      {"as written", LogText(kSub + "a") + std::string(kMovedTo) + kTarget, kSub + "a", true},
      {"another file", LogText(kSub + "b") + std::string(kMovedTo) + kTarget, kSub + "a", false},
      {"into another folder", "a" + std::string(kMovedTo) + elsewhere, "a", false},
      {"into a folder below the target", "a" + std::string(kMovedTo) + kTarget + kSub, "a", false},
      {"a second line in it",
       "a" + std::string(kMovedTo) + kTarget + "\r\nkey" + std::string(kMovedTo) + kTarget, "a",
       false},
      {"not moved", "a" + std::string(kNotMoved) + "File exists", "a", false},
      {"no ending", "a", "a", false},
  };
  RunLog log;
  const RecoveryLogWriter writer(log);
  for (const auto& c : cases) {
    EXPECT_EQ(writer.IsEntryFor(c.entry, c.relative, kTarget), c.taken) << c.label;
  }
}

// The last line of a killed run's log, cut short: only a first piece names
// the file that was in flight.
TEST(RecoveryLogTest, AnEntryBegunNamesItsFileAndAnEndedOneNone) {
  RunLog log;
  const RecoveryLogWriter writer(log);
  std::string relative, entry;
  ASSERT_TRUE(writer.BegunEntry(LogText(kSub + "a"), kTarget, relative, entry));
  EXPECT_EQ(relative, kSub + "a");
  EXPECT_EQ(entry, LogText(kSub + "a") + std::string(kMovedTo) + kTarget);
  for (const std::string& line : {"a" + std::string(kMovedTo) + kTarget,
                                  "a" + std::string(kNotMoved) + "File exists", std::string()}) {
    EXPECT_FALSE(writer.BegunEntry(line, kTarget, relative, entry)) << line;
  }
}

}  // namespace
}  // namespace qor
