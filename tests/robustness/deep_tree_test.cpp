// A tree a thousand folders deep: the walk keeps one open folder per level,
// so it depends on the raised limit of open files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/process.h"
#include "trial_run.h"

namespace qor::testing {
namespace {

constexpr int kDepth = 1000;

// Puts the soft limit of open files back as it was.
class OpenFileLimitGuard {
 public:
  OpenFileLimitGuard() { ::getrlimit(RLIMIT_NOFILE, &saved_); }
  ~OpenFileLimitGuard() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
  rlim_t hard() const { return saved_.rlim_max; }

 private:
  struct rlimit saved_ {};
};

std::string Level(int depth) {
  std::string relative;
  for (int i = 0; i < depth; ++i) relative += "d/";
  return relative;
}

TEST(DeepTreeTest, AThousandFoldersDeepAreWalkedAndMovedToTheBottom) {
  OpenFileLimitGuard guard;
  if (guard.hard() != RLIM_INFINITY && guard.hard() < kDepth + 100) {
    GTEST_SKIP() << "the hard limit of open files (" << guard.hard() << ") is below the depth";
  }
  // Start from a soft limit the walk could not go deep with, as a desktop
  // session may hand the program.
  struct rlimit low = {256, guard.hard()};
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  platform::RaiseOpenFileLimit();

  // The source lies in memory: a thousand folders made and removed on a busy
  // disk take seconds and prove nothing more.
  std::vector<TargetPlace> places = {{"one file system", "/dev/shm"}};
  if (!SameFileSystem(BuildParent(), "/dev/shm")) {
    places.push_back({"across file systems", BuildParent()});
  }
  for (const TargetPlace& place : places) {
    SCOPED_TRACE(place.label);
    TrialRun run(place.parent, "/dev/shm");
    int fd = ::open(run.source().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::vector<std::string> taken;
    for (int depth = 1; depth <= kDepth; ++depth) {
      const int next = MakeFolderAt(fd, "d");
      ::close(fd);
      fd = next;
      if (depth % 250 == 0 || depth == 1) {
        WriteFileAt(fd, "taken", "at depth " + std::to_string(depth), TakenDate(), depth);
        taken.push_back(Level(depth) + "taken");
      }
      if (depth == 600) WriteFileAt(fd, "kept", "stays", KeptDate());
    }
    ::close(fd);
    const TreeFacts before = RecordTree(run.source());
    HookedObserver observer;

    const std::string log = run.Walk(observer);

    EXPECT_EQ(run.end, WalkEnd::Finished);
    std::vector<std::string> expected;
    for (const std::string& relative : taken) expected.push_back(run.MovedLine(relative));
    EXPECT_EQ(SortedLines(log), Sorted(expected));
    const TreeFacts target_now = RecordTree(run.target());
    ASSERT_EQ(target_now.size(), taken.size());
    for (const std::string& relative : taken) {
      ASSERT_EQ(target_now.count(relative), 1u) << "depth " << relative.size() / 2;
      EXPECT_TRUE(target_now.at(relative).SameContentAndTime(before.at(relative)));
    }
    // The emptied folders below the kept file are gone, those above it stay.
    const TreeFacts source_now = RecordTree(run.source());
    ASSERT_EQ(source_now.size(), 1u);
    EXPECT_EQ(source_now.begin()->first, Level(600) + "kept");
    EXPECT_FALSE(Exists(run.source() + Level(601)));
    // Every entry: "." and ".." and one more per level, and the files.
    EXPECT_EQ(run.params.SearchedCount, 3 * kDepth + 2 + static_cast<int>(taken.size()) + 1);
  }
}

}  // namespace
}  // namespace qor::testing
