// qor-cli's relative dates through the real binary, on both systems.

#include <gtest/gtest.h>

#include <algorithm>

#include "cli/cli_run.h"
#include "support/temp_tree.h"

namespace qor::testing {
namespace {

TEST(CliMoveTest, OlderThanAndNewerThanCountWholeDaysBeforeToday) {
  struct Case {
    const char* option;
    const char* value;
    std::set<std::string> taken;
  };
  const Case cases[] = {
      {"--older-than", "90", {"91"}},
      {"--newer-than", "90", {"89"}},
      {"--older-than", "90d", {"91"}},
      {"--newer-than", "13w", {"89", "90"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " " + c.value);
    TempFolder source, target;
    for (const int days : {89, 90, 91}) {
      WriteFile(source.slash() + std::to_string(days), "x", DaysFromToday(-days));
    }
    const CliResult run =
        RunCli({"move", source.path(), target.path(), c.option, c.value, "-q"}, target.path());
    EXPECT_EQ(run.status, 0) << run.err;
    std::set<std::string> moved = NamesIn(target.path());
    std::erase_if(moved, [](const std::string& name) { return name.starts_with("FileFind"); });
    EXPECT_EQ(moved, c.taken);
  }
}

}  // namespace
}  // namespace qor::testing
