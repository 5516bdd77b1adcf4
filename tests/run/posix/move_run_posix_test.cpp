// The whole run's behaviour that only Linux shows: a link in the target,
// a current folder that is gone.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "run/move_run_fixture.h"

namespace qor {
namespace {

TEST_F(MoveRunTest, ADateFolderThatLeadsIntoTheSourceIsRefused) {
  WriteFile(source_ + "a.txt", "a", UtcSeconds(2021, 6, 15));
  ::mkdir(target_.c_str(), 0777);
  ASSERT_EQ(::symlink(source_.c_str(), (target_ + "20210615").c_str()), 0);
  window_.checks[CheckBox::AddDateTarget] = 1;

  EXPECT_EQ(RunMove(window_, params_), RunOutcome::Refused);

  ASSERT_EQ(window_.messages.size(), 1u);
  EXPECT_EQ(window_.messages[0].prompt, "zyclic copy");
  EXPECT_EQ(window_.messages[0].title, "Arrgh");
  EXPECT_EQ(ReadFile(source_ + "a.txt"), "a");
  EXPECT_FALSE(Exists(LogPath()));
}

TEST_F(MoveRunTest, ARunLogThatCannotBeCreatedStopsTheRunBeforeAnyMove) {
  WriteFile(source_ + "a.txt", "a", UtcSeconds(2021, 6, 15));
  TempFolder doomed;
  ASSERT_EQ(::chdir(doomed.path().c_str()), 0);
  ASSERT_EQ(::rmdir(doomed.path().c_str()), 0);  // the current folder is gone

  ExpectRefusedForTheLog("No such file or directory");
}

}  // namespace
}  // namespace qor
