// Folders the run may not read, enter or change. Root passes by permission
// bits, so the walk runs in a child process that gives up the two
// capabilities that let it.

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "trial_run.h"

namespace qor::testing {
namespace {

constexpr int kCannotLoseAccess = 77;

// Makes the process obey permission bits even as root.
bool DropPermissionOverride() {
  if (::geteuid() != 0) return true;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
    const unsigned bit = 1u << (capability % 32);
    data[capability / 32].effective &= ~bit;
    data[capability / 32].permitted &= ~bit;
    data[capability / 32].inheritable &= ~bit;
  }
  return ::syscall(SYS_capset, &header, data) == 0;
}

// Walks in a child without the override; the child's exit status tells
// whether it could give it up, and else how many folders it could not read.
int WalkWithoutOverride(TrialRun& run, const std::string& locked) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!DropPermissionOverride() || ::access(locked.c_str(), R_OK) == 0) {
      ::_exit(kCannotLoseAccess);
    }
    HookedObserver observer;
    run.Walk(observer);
    // No destructors here: they would remove the parent's folders.
    ::_exit(run.end == WalkEnd::Finished ? run.params.UnreadFolders : 100);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(UnreadableFolderTest, FoldersThatCannotBeListedEnteredOrChangedKeepTheirFiles) {
  for (const TargetPlace& place : TargetPlaces()) {
    SCOPED_TRACE(place.label);
    TrialRun run(place.parent);
    struct Folder {
      std::string name;
      mode_t mode;
    };
    // Cannot be listed; can be listed but not entered; can be entered but
    // nothing in it removed.
    const std::vector<Folder> folders = {{"locked", 0}, {"list only", 0444}, {"read only", 0555}};
    for (const Folder& folder : folders) {
      WriteFile(run.source() + folder.name + "/inside.txt", "in " + folder.name, TakenDate());
    }
    WriteFile(run.source() + "free.txt", "free", TakenDate());
    const TreeFacts before = RecordTree(run.source());
    for (const Folder& folder : folders) {
      ASSERT_EQ(::chmod((run.source() + folder.name).c_str(), folder.mode), 0);
    }

    const int status = WalkWithoutOverride(run, run.source() + "locked");
    if (status == kCannotLoseAccess) {
      GTEST_SKIP() << "the permission override cannot be given up here";
    }
    // The folder that cannot be listed, and the one whose entries cannot be
    // examined: both hold files the run did not see.
    ASSERT_EQ(status, 2) << "unread folders, or 100 when the walk did not finish";

    for (const Folder& folder : folders) ::chmod((run.source() + folder.name).c_str(), 0755);
    // Nothing is logged for a folder that cannot be listed, nor for a file
    // whose date cannot be read in a folder that can be listed but not
    // entered: nothing says it matches, so it is not taken.
    EXPECT_EQ(SortedLines(ReadFile(run.log_path())),
              Sorted({run.NotMovedLine("read only/inside.txt", "Permission denied"),
                      run.MovedLine("free.txt")}));
    const TreeFacts source_now = RecordTree(run.source());
    for (const Folder& folder : folders) {
      const std::string relative = folder.name + "/inside.txt";
      ASSERT_EQ(source_now.count(relative), 1u) << "lost: " << relative;
      EXPECT_TRUE(source_now.at(relative).SameContentAndTime(before.at(relative))) << relative;
    }
    const TreeFacts target_now = RecordTree(run.target());
    EXPECT_EQ(target_now.size(), 1u) << "a copy or temporary was left behind";
    EXPECT_EQ(target_now.count("free.txt"), 1u);
  }
}

}  // namespace
}  // namespace qor::testing
