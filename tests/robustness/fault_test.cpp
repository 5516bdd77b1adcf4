// Faults met during a run: each leaves the source file whole, the run log
// tells the failure as it is, and the run goes on with the next file.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "trial_run.h"

namespace qor::testing {
namespace {

void ExpectSameFacts(const TreeFacts& before, const std::string& before_prefix,
                     const TreeFacts& now, const std::string& now_prefix,
                     const std::string& relative) {
  const auto was = before.find(before_prefix + relative);
  const auto is = now.find(now_prefix + relative);
  ASSERT_NE(was, before.end()) << relative;
  ASSERT_NE(is, now.end()) << "lost: " << now_prefix << relative;
  EXPECT_TRUE(is->second.SameContentAndTime(was->second)) << "changed: " << relative;
}

// A real file system too small for the file that is moved onto it.
class SmallTmpfs {
 public:
  SmallTmpfs() {
    error_ = ::mount("qor-full", folder_.path().c_str(), "tmpfs", 0, "size=512k") == 0 ? 0 : errno;
  }
  ~SmallTmpfs() {
    if (error_ == 0) ::umount2(folder_.path().c_str(), MNT_DETACH);
  }
  int error() const { return error_; }
  std::string path() const { return folder_.path(); }

 private:
  TempFolder folder_;
  int error_ = 0;
};

TEST(FaultTest, DiskFullDuringACrossFileSystemMoveKeepsTheSourceAndTheRunGoesOn) {
  SmallTmpfs small;
  if (small.error() != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(small.error());
  }
  TrialRun run(small.path());
  std::vector<std::string> expected;
  for (int i = 0; i < 3; ++i) {
    const std::string name = "big" + std::to_string(i) + ".bin";
    WriteFile(run.source() + name, std::string(700000 + i, static_cast<char>('a' + i)),
              TakenDate());
    expected.push_back(run.NotMovedLine(name, "No space left on device"));
  }
  for (int i = 0; i < 12; ++i) {
    const std::string name = "small" + std::to_string(i) + ".txt";
    WriteFile(run.source() + name, std::string(3000, static_cast<char>('A' + i)), TakenDate());
    expected.push_back(run.MovedLine(name));
  }
  WriteFile(run.source() + "kept.txt", "not taken", KeptDate());
  const TreeFacts before = RecordTree(run.source());
  HookedObserver observer;

  const std::string log = run.Walk(observer);

  EXPECT_EQ(run.end, WalkEnd::Finished);
  EXPECT_EQ(SortedLines(log), Sorted(expected)) << log;
  const TreeFacts source_now = RecordTree(run.source());
  const TreeFacts target_now = RecordTree(run.target());
  for (int i = 0; i < 3; ++i) {
    ExpectSameFacts(before, "", source_now, "", "big" + std::to_string(i) + ".bin");
  }
  for (int i = 0; i < 12; ++i) {
    ExpectSameFacts(before, "", target_now, "", "small" + std::to_string(i) + ".txt");
  }
  EXPECT_EQ(target_now.size(), 12u) << "a partial copy was left behind";
  EXPECT_EQ(run.params.FailedCount, 3);
  EXPECT_EQ(run.params.MovedCount, 15);
}

// The names of a folder in the order a listing gives them, "." and ".."
// left out.
std::vector<std::string> NamesInListingOrder(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* d = ::readdir(dir)) {
      const std::string name = d->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  return names;
}

TEST(FaultTest, AFileThatVanishesAfterTheListingReadItIsPassedOverAndTheRestMoves) {
  for (const TargetPlace& place : TargetPlaces()) {
    SCOPED_TRACE(place.label);
    TrialRun run(place.parent);
    TempFolder elsewhere(BuildParent());
    for (int i = 0; i < 120; ++i) {
      WriteFile(run.source() + "f" + std::to_string(1000 + i), std::to_string(i), TakenDate());
    }
    const TreeFacts before = RecordTree(run.source());
    // At the yield after the 50th entry another program takes away a file the
    // listing has already read but the walk has not reached. Its date can no
    // longer be read, so nothing says it matches: it is not taken (not even
    // under "<", which a date of zero would pass) and the rest moves.
    std::string vanished;
    HookedObserver observer;
    observer.on_yield = [&](int yield) {
      if (yield != 1) return;
      // Near the end of the listing, which the walk has not reached, nor
      // handed to a batch of moves.
      const std::vector<std::string> names = NamesInListingOrder(run.source());
      ASSERT_GT(names.size(), 10u);
      vanished = names[names.size() - 10];
      ASSERT_EQ(
          std::rename((run.source() + vanished).c_str(), (elsewhere.slash() + vanished).c_str()),
          0);
    };

    const std::string log = run.Walk(observer);

    ASSERT_FALSE(vanished.empty());
    std::vector<std::string> expected;
    for (const auto& [name, facts] : before) {
      if (name != vanished) expected.push_back(run.MovedLine(name));
    }
    EXPECT_EQ(SortedLines(log), Sorted(expected));
    const TreeFacts target_now = RecordTree(run.target());
    EXPECT_EQ(target_now.size(), 119u);
    for (const auto& [name, facts] : target_now) ExpectSameFacts(before, "", target_now, "", name);
    ExpectSameFacts(before, "", RecordTree(elsewhere.path()), "", vanished);
    EXPECT_EQ(run.params.FailedCount, 0);
    EXPECT_EQ(run.params.MovedCount, 119);
  }
}

TEST(FaultTest, SourceFoldersRemovedDuringTheWalkAreLeftAndTheWalkGoesOn) {
  for (const TargetPlace& place : TargetPlaces()) {
    SCOPED_TRACE(place.label);
    TrialRun run(place.parent);
    TempFolder outside(BuildParent());
    constexpr int kFolders = 5, kFilesEach = 60;
    for (int d = 0; d < kFolders; ++d) {
      for (int i = 0; i < kFilesEach; ++i) {
        WriteFile(run.source() + "d" + std::to_string(d) + "/f" + std::to_string(i),
                  "content " + std::to_string(d * 100 + i), TakenDate());
      }
    }
    const TreeFacts before = RecordTree(run.source());
    // At the first yield, the 50th entry, the walk is inside its first
    // folder: that one is moved away under it, one folder it has not reached
    // is moved away too, and another is deleted with all it holds. The walk
    // holds the folder it is in open, not its name, so it finishes the one
    // moved away under it; it never reaches the other two.
    std::string partial, untouched, deleted;
    HookedObserver observer;
    observer.on_yield = [&](int yield) {
      if (yield != 1) return;
      for (const std::string& folder : NamesIn(run.source())) {
        const std::size_t left = NamesIn(run.source() + folder).size();
        const std::string from = run.source() + folder;
        // The walk is in the folder whose files have begun to leave, or to
        // arrive in the target (copies on their way leave their sources
        // until the batch is done).
        if ((left < kFilesEach || Exists(run.target() + folder)) && partial.empty()) {
          partial = folder;
          ASSERT_EQ(std::rename(from.c_str(), (outside.slash() + folder).c_str()), 0);
        } else if (left == kFilesEach && untouched.empty()) {
          untouched = folder;
          ASSERT_EQ(std::rename(from.c_str(), (outside.slash() + folder).c_str()), 0);
        } else if (left == kFilesEach && deleted.empty()) {
          deleted = folder;
          std::filesystem::remove_all(from);
        }
      }
    };

    const std::string log = run.Walk(observer);

    ASSERT_FALSE(partial.empty());
    ASSERT_FALSE(untouched.empty());
    ASSERT_FALSE(deleted.empty());
    EXPECT_EQ(run.end, WalkEnd::Finished);
    const TreeFacts target_now = RecordTree(run.target());
    const TreeFacts outside_now = RecordTree(outside.path());
    std::vector<std::string> expected;
    for (const auto& [relative, facts] : before) {
      const std::string folder = relative.substr(0, relative.find('/'));
      if (folder == deleted || folder == untouched) continue;  // never reached: no entry
      if (target_now.count(relative) != 0) {
        expected.push_back(run.MovedLine(relative));
        ExpectSameFacts(before, "", target_now, "", relative);
      } else {
        ADD_FAILURE() << "not moved: " << relative;
      }
    }
    EXPECT_EQ(SortedLines(log), Sorted(expected));
    for (const auto& [relative, facts] : outside_now) {
      ExpectSameFacts(before, "", outside_now, "", relative);
    }
    EXPECT_EQ(outside_now.size() + target_now.size(),
              static_cast<std::size_t>((kFolders - 1) * kFilesEach))
        << "every file not deleted on purpose is moved or still in a moved-away folder";
    EXPECT_EQ(run.params.FailedCount, 0);
    EXPECT_EQ(NamesIn(run.target() + partial).size(), static_cast<std::size_t>(kFilesEach));
  }
}

TEST(FaultTest, ADestinationNameThatIsTakenKeepsBothSidesAsTheyWere) {
  for (const TargetPlace& place : TargetPlaces()) {
    SCOPED_TRACE(place.label);
    TrialRun run(place.parent);
    for (const char* name : {"file.txt", "link.txt", "folder.txt", "sub/inner.txt", "free.txt"}) {
      WriteFile(run.source() + name, std::string("incoming ") + name, TakenDate());
    }
    WriteFile(run.target() + "file.txt", "already here", KeptDate());
    ASSERT_EQ(::symlink("nowhere", (run.target() + "link.txt").c_str()), 0);
    ASSERT_EQ(::mkdir((run.target() + "folder.txt").c_str(), 0755), 0);
    WriteFile(run.target() + "sub", "a file where a folder is needed", KeptDate());
    const TreeFacts source_before = RecordTree(run.source());
    const TreeFacts target_before = RecordTree(run.target());
    HookedObserver observer;

    const std::string log = run.Walk(observer);

    EXPECT_EQ(SortedLines(log), Sorted({run.NotMovedLine("file.txt", "File exists"),
                                        run.NotMovedLine("link.txt", "File exists"),
                                        run.NotMovedLine("folder.txt", "File exists"),
                                        run.NotMovedLine("sub/inner.txt", "Not a directory"),
                                        run.MovedLine("free.txt")}));
    const TreeFacts source_now = RecordTree(run.source());
    const TreeFacts target_now = RecordTree(run.target());
    for (const char* name : {"file.txt", "link.txt", "folder.txt", "sub/inner.txt"}) {
      ExpectSameFacts(source_before, "", source_now, "", name);
    }
    for (const char* name : {"file.txt", "link.txt", "sub"}) {
      ExpectSameFacts(target_before, "", target_now, "", name);
    }
    ExpectSameFacts(source_before, "", target_now, "", "free.txt");
    EXPECT_EQ(target_now.size(), 4u) << "a temporary or partial copy was left behind";
    EXPECT_EQ(NamesIn(run.target() + "folder.txt").size(), 0u);
    EXPECT_EQ(run.params.FailedCount, 4);
  }
}

}  // namespace
}  // namespace qor::testing
