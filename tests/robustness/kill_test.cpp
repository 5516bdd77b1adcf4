// Real move runs killed with SIGKILL at random moments: whatever the moment,
// every file is still whole at its old place or at its new one.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kill_check.h"
#include "random_tree.h"
#include "support/temp_tree.h"

namespace qor::testing {
namespace {

constexpr int kFiles = 2500;
constexpr int kKills = 10;  // per file-system setting

using Clock = std::chrono::steady_clock;

// Runs by turns make their copies across file systems one at a time and
// eight side by side (`turn` odd), held open without a name and, every
// other two turns, under temporary names.
pid_t StartRunner(const std::string& from, const std::string& to, const std::string& log,
                  int turn) {
  const std::vector<std::string> args = {QOR_WALK_RUNNER,
                                         from,
                                         to,
                                         log,
                                         std::to_string(kTreeCompareMode),
                                         std::to_string(kTreeYear),
                                         std::to_string(kTreeMonth),
                                         std::to_string(kTreeDay),
                                         turn % 2 == 0 ? "1" : "8",
                                         turn / 2 % 2 == 0 ? "unnamed" : "named"};
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

struct Figures {
  int kills = 0;
  int finished_runs = 0;
};

class KilledRunTest : public ::testing::Test {
 protected:
  // Builds the tree below a folder of `parent_a`, runs it once to the end in
  // each direction to learn how long a whole run takes, then kills runs over
  // the same tree, forth and back, until kKills runs have been killed.
  void KillRuns(const std::string& parent_a, const std::string& parent_b) {
    TempFolder a(parent_a), b(parent_b), logs;
    const std::string root_a = a.slash(), root_b = b.slash();
    // Each run a log of its own, all kept: a later run finishes the moves of
    // a killed one and logs what the killed one could not.
    std::vector<std::string> log_names;
    std::string log;
    const auto next_log = [&] {
      log = logs.slash() + "run-" + std::to_string(log_names.size()) + ".txt";
      log_names.push_back(log);
    };
    std::mt19937_64 random(std::random_device{}());
    const OriginalTree originals = BuildRandomTree(root_a, kFiles, random);
    int taken = 0;
    for (const auto& entry : originals) taken += entry.second.taken ? 1 : 0;
    KillCheck check(originals, root_a, root_b);
    Figures figures;

    // Whole runs, measured: forth and back again.
    double whole_seconds[2] = {0, 0};
    for (int direction = 0; direction < 2; ++direction) {
      const std::string& from = direction == 0 ? root_a : root_b;
      const std::string& to = direction == 0 ? root_b : root_a;
      const auto start = Clock::now();
      next_log();
      const pid_t pid = StartRunner(from, to, log, direction);
      int status = 0;
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
      whole_seconds[direction] = std::chrono::duration<double>(Clock::now() - start).count();
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
      ++figures.finished_runs;
      check.Check(from, to, ReadFile(log));
      ASSERT_FALSE(HasFailure());
    }

    // A run that ends before its kill makes the next delay of its direction
    // shorter: a batch left twice after a kill fails fast the next time.
    double scale[2] = {1, 1};
    for (int round = 0; figures.kills < kKills && round < 4 * kKills; ++round) {
      const int taken_a = check.TakenBelow(root_a);
      const int taken_b = check.TakenBelow(root_b);
      // Both directions by turns, unless one side holds too little to be
      // worth a run.
      int direction = round % 2;
      const int taken_from = direction == 0 ? taken_a : taken_b;
      if (taken_from * 10 < taken) direction = 1 - direction;
      const std::string& from = direction == 0 ? root_a : root_b;
      const std::string& to = direction == 0 ? root_b : root_a;
      // The run's likely length: its share of a whole run, startup included.
      const double expected =
          whole_seconds[direction] * std::max(0.1, (direction == 0 ? taken_a : taken_b) /
                                                       static_cast<double>(std::max(taken, 1)));
      const auto delay = std::chrono::duration<double>(
          std::uniform_real_distribution<double>(0.0, expected * scale[direction])(random));

      next_log();
      const pid_t pid = StartRunner(from, to, log, round / 2);
      std::this_thread::sleep_for(delay);
      int status = 0;
      pid_t waited = ::waitpid(pid, &status, WNOHANG);
      if (waited == 0) {
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        waited = ::waitpid(pid, &status, 0);
      }
      ASSERT_EQ(waited, pid);
      if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
        ++figures.kills;
      } else {
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        ++figures.finished_runs;
        scale[direction] /= 2;
      }
      check.Check(from, to, ReadFile(log));
      ASSERT_FALSE(HasFailure()) << "after round " << round;
    }

    EXPECT_EQ(figures.kills, kKills);
    // The same job once more, to its end: it finishes what the killed runs
    // left, in either folder, and leaves one of each file and nothing else.
    {
      next_log();
      const pid_t pid = StartRunner(root_a, root_b, log, 1);
      int status = 0;
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "rerun status " << status;
      check.Check(root_a, root_b, ReadFile(log));
      const TreeFacts a = RecordTree(root_a), b = RecordTree(root_b);
      for (const auto& [relative, original] : originals) {
        EXPECT_FALSE(a.count(relative) != 0 && b.count(relative) != 0)
            << "twice after the rerun: " << relative;
      }
      for (const auto* tree : {&a, &b}) {
        for (const auto& [relative, facts] : *tree) {
          EXPECT_NE(originals.count(relative), 0u) << "left after the rerun: " << relative;
        }
      }
    }
    std::vector<std::string> texts;
    for (const std::string& name : log_names) texts.push_back(ReadFile(name));
    const KillCheck::LogFigures logged = check.ReplayLogs(texts);
    std::printf(
        "kills %d, finished runs %d, files %zu (%d taken), files checked %d, "
        "temporaries %d, duplicates %d; whole runs %.2f s and %.2f s; moves logged once %d, "
        "twice %d, missing from every log %d\n",
        figures.kills, figures.finished_runs, originals.size(), taken, check.files_checked(),
        check.temporaries(), check.duplicates(), whole_seconds[0], whole_seconds[1],
        logged.logged_once, logged.logged_twice, logged.missing);
    RecordProperty("kills", figures.kills);
    RecordProperty("files_checked", check.files_checked());
    RecordProperty("temporaries", check.temporaries());
    RecordProperty("duplicates", check.duplicates());
    RecordProperty("logged_once", logged.logged_once);
    RecordProperty("logged_twice", logged.logged_twice);
    RecordProperty("missing_from_logs", logged.missing);
  }
};

TEST_F(KilledRunTest, OnOneFileSystemEveryFileSurvivesWhole) {
  KillRuns(BuildParent(), BuildParent());
}

TEST_F(KilledRunTest, AcrossFileSystemsEveryFileSurvivesWholeOrTwice) {
  if (SameFileSystem(BuildParent(), "/dev/shm")) {
    GTEST_SKIP() << "/dev/shm and the build folder share a file system here";
  }
  KillRuns(BuildParent(), "/dev/shm");
}

}  // namespace
}  // namespace qor::testing
