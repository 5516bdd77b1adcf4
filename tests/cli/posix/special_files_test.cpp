// qor-cli given a device or a pipe where it writes or reads a log.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "cli_runner.h"

namespace qor::testing {
namespace {

TEST(CliSpecialFileTest, ALogPlaceThatKeepsNoRecordIsRefusedAndNothingMoves) {
  TempFolder source, target, moved_from, moved_to, cwd;
  WriteFile(source.slash() + "old.txt", "old", UtcSeconds(2020, 1, 1));
  WriteFile(moved_from.slash() + "back.txt", "back", UtcSeconds(2020, 1, 1));
  ASSERT_EQ(RunCli({"move", moved_from.path(), moved_to.path(), "--on", "2020-01-01", "--log",
                    "run.txt", "-q"},
                   cwd.path())
                .status,
            0);
  const std::string pipe = cwd.slash() + "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  // Open for reading, so that a run could write its log into the pipe.
  const int reader = ::open(pipe.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);

  const std::vector<std::string> folders = {source.path(), target.path(), moved_from.path(),
                                            moved_to.path()};
  std::vector<TreeFacts> before;
  for (const std::string& folder : folders) before.push_back(RecordTree(folder));
  for (const std::string& log : {std::string("/dev/null"), pipe}) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"move", source.path(), target.path(), "--on", "2020-01-01",
                                   "--log", log},
          std::vector<std::string>{"undo", "run.txt", moved_from.path(), "--log", log}}) {
      SCOPED_TRACE(args[0] + " --log " + log);
      const CliResult run = RunCli(args, cwd.path());
      EXPECT_EQ(run.status, 2) << run.err;
      EXPECT_NE(run.err.find("is not a regular file"), std::string::npos) << run.err;
      for (std::size_t i = 0; i < folders.size(); ++i) {
        EXPECT_TRUE(SameTree(RecordTree(folders[i]), before[i])) << folders[i];
      }
    }
  }
  ::close(reader);
}

// In a folder everyone may write into (a shared working folder, /tmp),
// anything under the default log name was put there by someone: it is left
// as it stands, and the run writes its log under the next free number,
// never blocking on a pipe that its planter holds open and never reads.
TEST(CliSpecialFileTest, WhatStandsUnderTheDefaultLogNameIsLeftAndTheNextNumberTaken) {
  TempFolder victim;
  const std::string precious = victim.slash() + "precious.txt";
  WriteFile(precious, "keep me", UtcSeconds(2020, 1, 1));
  int reader = -1;
  const struct {
    const char* label;
    std::function<void(const std::string&)> plant;
  } cases[] = {
      {"a pipe held open",
       [&](const std::string& path) {
         ::mkfifo(path.c_str(), 0666);
         reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
       }},
      {"a link", [&](const std::string& path) { ::symlink(precious.c_str(), path.c_str()); }},
      {"a second name of another file",
       [&](const std::string& path) { ::link(precious.c_str(), path.c_str()); }},
      {"another user's empty file",
       [](const std::string& path) {
         WriteFile(path, "", UtcSeconds(2020, 1, 1));
         ::chown(path.c_str(), 1001, 1001);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    if (std::string(c.label) == "another user's empty file" && ::geteuid() != 0) continue;
    TempFolder source, target, cwd;
    ::chmod(cwd.path().c_str(), 01777);
    // More files than a pipe holds entries.
    for (int i = 0; i < 1500; ++i) {
      WriteFile(source.slash() + "file-with-a-long-name-" + std::to_string(i) + ".txt", "x",
                UtcSeconds(2020, 1, 1));
    }
    const std::string planted = cwd.slash() + "FileFind20200101.txt";
    c.plant(planted);
    struct stat before;
    ASSERT_EQ(::lstat(planted.c_str(), &before), 0);

    const CliResult run =
        RunCli({"move", source.path(), target.path(), "--on", "2020-01-01", "-q"}, cwd.path());

    EXPECT_EQ(run.status, 0) << run.err;
    struct stat after;
    ASSERT_EQ(::lstat(planted.c_str(), &after), 0);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadFile(precious), "keep me");
    EXPECT_NE(ReadFile(cwd.slash() + "FileFind20200101-2.txt").find("MOVED to"), std::string::npos);
    if (reader >= 0) ::close(reader);
    reader = -1;
  }
}

TEST(CliSpecialFileTest, OneStopEndsAnUndoWaitingOnAPipeForItsLog) {
  TempFolder source, cwd;
  const std::string pipe = cwd.slash() + "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  // A writer that holds the pipe open and writes nothing: a blocking read
  // would wait for good.
  const int writer = ::open(pipe.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  const int out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = StartCli({"undo", pipe, source.path()}, cwd.path(), out, out);
  ::close(out);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(::kill(pid, SIGTERM), 0);

  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < 100 && (ended = ::waitpid(pid, &status, WNOHANG)) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (ended == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  ::close(writer);
  ASSERT_EQ(ended, pid) << "one SIGTERM did not end the undo within 5 s";
  // Ended by its handler, or by the signal itself if it came first.
  EXPECT_TRUE(WIFEXITED(status) ? WEXITSTATUS(status) != 0 : WTERMSIG(status) == SIGTERM);
  EXPECT_TRUE(RecordTree(source.path()).empty());
  EXPECT_EQ(NamesIn(cwd.path()), std::set<std::string>{"pipe"});
}

}  // namespace
}  // namespace qor::testing
