// Two runs at once that would write the same log: the one that comes second
// is refused before it touches anything, and the first keeps its whole log.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "run/run_log.h"
#include "support/temp_tree.h"
#include "trial_run.h"

namespace qor::testing {
namespace {

struct RunnerEnd {
  int code = -1;
  std::string output;
};

// A whole run of the real runner in a process of its own.
RunnerEnd RunRunner(const std::string& source, const std::string& target, const std::string& log) {
  const std::string command = std::string("'") + QOR_WALK_RUNNER + "' '" + source + "' '" + target +
                              "' '" + log + "' 1 2021 6 15 2>&1";
  RunnerEnd end;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return end;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) end.output += buffer;
  const int status = ::pclose(pipe);
  end.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return end;
}

TEST(SharedLogTest, ASecondRunIsRefusedWhileAnotherWritesItsLog) {
  TempFolder source, target, work;
  WriteFile(source.slash() + "a.txt", "a", TakenDate());
  const std::string log = work.slash() + "FileFind20210615.txt";
  const std::string first_entry = "x/one.txt      MOVED to   /elsewhere/\r\n";
  const std::string last_entry = "x/two.txt      MOVED to   /elsewhere/\r\n";

  // The first run, in a process of its own, writes one entry and waits.
  int started[2], go_on[2];
  ASSERT_EQ(::pipe(started), 0);
  ASSERT_EQ(::pipe(go_on), 0);
  const pid_t first = ::fork();
  ASSERT_GE(first, 0);
  if (first == 0) {
    RunLog own;
    char signal = 0;
    const bool ok = own.Create(log).ok() && own.Append(first_entry) &&
                    ::write(started[1], "s", 1) == 1 && ::read(go_on[0], &signal, 1) == 1 &&
                    own.Append(last_entry) && own.Close().ok();
    ::_exit(ok ? 0 : 1);
  }
  char signal = 0;
  ASSERT_EQ(::read(started[0], &signal, 1), 1);

  const RunnerEnd second = RunRunner(source.slash(), target.slash(), log);
  EXPECT_EQ(second.code, 1);
  EXPECT_NE(second.output.find("another run is using it"), std::string::npos) << second.output;
  EXPECT_EQ(ReadFile(source.slash() + "a.txt"), "a");
  EXPECT_TRUE(NamesIn(target.path()).empty());

  ASSERT_EQ(::write(go_on[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(first, &status, 0), first);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadFile(log), first_entry + last_entry);
  for (int fd : {started[0], started[1], go_on[0], go_on[1]}) ::close(fd);

  // Once the first has ended, the next run replaces its log.
  const RunnerEnd next = RunRunner(source.slash(), target.slash(), log);
  EXPECT_EQ(next.code, 0) << next.output;
  EXPECT_EQ(ReadFile(log), "a.txt" + std::string(kMovedTo) + target.slash() + "\r\n");
}

}  // namespace
}  // namespace qor::testing
