// Runs of this program that reach the same files at once across file
// systems (a folder and its subfolder moved by runs of their own): each file
// ends in one place, whole, moved by one run and logged once.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "support/file_systems.h"

namespace qor::testing {
namespace {

// How often each file name stands below `folder`.
void CountNames(const std::string& folder, std::map<std::string, int>& count) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) ++count[entry.path().filename().string()];
  }
}

TEST(CliOverlapTest, OverlappingRunsMoveEachFileOnceAndLogItOnce) {
  if (SameFileSystem(BuildParent(), "/dev/shm")) {
    GTEST_SKIP() << "/dev/shm and the build folder share a file system here";
  }
  constexpr int kTrials = 30;
  constexpr int kFiles = 60;
  int twice = 0, lost = 0, logged_twice = 0;
  for (int trial = 0; trial < kTrials; ++trial) {
    TempFolder source("/dev/shm"), target(BuildParent()), cwd(BuildParent());
    std::filesystem::create_directories(target.slash() + "d1");
    for (int i = 0; i < kFiles; ++i) {
      const std::string folder = i < 10 ? "" : i < 20 ? "d1/" : "d1/e1/";
      std::filesystem::create_directories(source.slash() + folder);
      WriteFile(source.slash() + folder + "f" + std::to_string(i), std::string(4096, 'a' + i % 26),
                UtcSeconds(2020, 1, 1));
    }
    const std::string s = source.slash(), t = target.slash();
    const std::vector<std::vector<std::string>> runs = {
        {"move", s, t, "--on", "2020-01-01", "-r", "-q", "--log", "a.txt"},
        {"move", s + "d1", t + "d1", "--on", "2020-01-01", "-r", "-q", "--log", "b.txt"},
        {"move", s + "d1/e1", t, "--on", "2020-01-01", "-r", "-q", "--log", "c.txt"},
    };
    const int out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::vector<pid_t> started;
    for (const auto& run : runs) started.push_back(StartCli(run, cwd.path(), out, out));
    for (const pid_t pid : started) ExitStatus(pid);
    ::close(out);

    std::map<std::string, int> count, logged;
    CountNames(source.path(), count);
    CountNames(target.path(), count);
    for (const char* log : {"a.txt", "b.txt", "c.txt"}) {
      if (!Exists(cwd.slash() + log)) continue;
      for (const std::string& line : SplitLog(ReadFile(cwd.slash() + log)).lines) {
        const std::size_t end = line.find("      MOVED to   ");
        if (end == std::string::npos) continue;
        const std::size_t slash = line.rfind('/', end);
        ++logged[line.substr(slash == std::string::npos ? 0 : slash + 1,
                             end - (slash == std::string::npos ? 0 : slash + 1))];
      }
    }
    for (int i = 0; i < kFiles; ++i) {
      const std::string name = "f" + std::to_string(i);
      twice += count[name] > 1;
      lost += count[name] == 0;
      logged_twice += logged[name] > 1;
    }
  }
  EXPECT_EQ(twice, 0);
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(logged_twice, 0);
}

}  // namespace
}  // namespace qor::testing
