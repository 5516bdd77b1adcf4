// qor-cli's help through the real binary: asked for every way the system's
// users ask, and fit for an 80-column console.

#include <gtest/gtest.h>

#include "cli/cli_run.h"

namespace qor::testing {
namespace {

TEST(CliHelpTest, EveryWayOfAskingShowsTheHelpWithinEightyColumns) {
  TempFolder cwd;
  std::vector<std::vector<std::string>> asks = {{"--help"}, {"-h"}, {"move", "a", "--help"}};
#ifdef _WIN32
  asks.push_back({"/?"});
  asks.push_back({"-?"});
  asks.push_back({"undo", "/?"});
#endif
  for (const std::vector<std::string>& ask : asks) {
    SCOPED_TRACE(ask.back());
    const CliResult help = RunCli(ask, cwd.path());
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_TRUE(help.out.starts_with("Usage: qor-cli move")) << help.out;
    for (std::string line : Lines(help.out)) {
      if (line.ends_with('\r')) line.pop_back();
      EXPECT_LE(line.size(), 80u) << line;
    }
  }
}

}  // namespace
}  // namespace qor::testing
