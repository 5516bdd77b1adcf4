// Moves across file systems go in batches: one file's failure stays its own,
// and a close during a long copy gives the copy up.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "trial_run.h"

namespace qor::testing {
namespace {

TEST(BatchTest, OneFileOfABatchThatFailsAffectsOnlyThatFile) {
  if (SameFileSystem(BuildParent(), "/dev/shm")) {
    GTEST_SKIP() << "/dev/shm and the build folder share a file system here";
  }
  TrialRun run("/dev/shm");
  for (int i = 0; i < 60; ++i) {
    WriteFile(run.source() + "f" + std::to_string(i), "file " + std::to_string(i), TakenDate());
  }
  WriteFile(run.target() + "f17", "already here", KeptDate());
  HookedObserver observer;

  const std::string log = run.Walk(observer);

  std::vector<std::string> expected;
  for (int i = 0; i < 60; ++i) {
    const std::string name = "f" + std::to_string(i);
    expected.push_back(i == 17 ? run.NotMovedLine(name, "File exists") : run.MovedLine(name));
  }
  EXPECT_EQ(SortedLines(log), Sorted(expected));
  EXPECT_EQ(run.params.MovedCount, 60);
  EXPECT_EQ(run.params.FailedCount, 1);
  EXPECT_EQ(ReadFile(run.target() + "f17"), "already here");
  EXPECT_EQ(ReadFile(run.source() + "f17"), "file 17");
  EXPECT_EQ(NamesIn(run.source()), std::set<std::string>{"f17"});
  EXPECT_EQ(ReadFile(run.target() + "f42"), "file 42");
}

TEST(BatchTest, ACloseDuringALongCopyGivesTheCopyUpAndKeepsTheSource) {
  if (SameFileSystem(BuildParent(), "/dev/shm")) {
    GTEST_SKIP() << "/dev/shm and the build folder share a file system here";
  }
  // Memory to disk: long enough that the copy asks the window to go on.
  TrialRun run(BuildParent(), "/dev/shm");
  const std::string source = run.source() + "video.bin";
  {
    const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const std::string chunk(1 << 20, 'v');
    for (int i = 0; i < 512; ++i) ASSERT_EQ(::write(fd, chunk.data(), chunk.size()), 1 << 20);
    ::close(fd);
  }
  SetModified(source, TakenDate());
  HookedObserver observer;
  // The window closes at the first yield, which the copy itself makes.
  observer.close_at = 1;

  const std::string log = run.Walk(observer);

  if (run.end == WalkEnd::Finished) GTEST_SKIP() << "the copy was over before it asked";
  EXPECT_EQ(log, "") << "no entry for a file that did not move";
  EXPECT_TRUE(NamesIn(run.target()).empty()) << "the copy or its temporary stayed";
  struct stat st;
  ASSERT_EQ(::stat(source.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 512 << 20);
}

}  // namespace
}  // namespace qor::testing
