// The walk's behaviour that only Linux shows: links, time zones, a device
// that is always full.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "run/find_file_fixture.h"

namespace qor {
namespace {

TEST_F(FindFileTest, DatesAreTakenInUtcWhateverTheLocalZone) {
  const char* old_tz = std::getenv("TZ");
  const std::string saved = old_tz != nullptr ? old_tz : "";
  ::setenv("TZ", "EET-2", 1);  // two hours east of UTC
  ::tzset();
  // 00:30 local on 15 March is 22:30 UTC on 14 March.
  WriteFile(source_ + "late.txt", "l", UtcSeconds(2021, 3, 14, 22, 30));
  params_.Day = 14;
  params_.Month = 3;

  Walk();

  if (old_tz != nullptr) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
  EXPECT_TRUE(Exists(target_ + "late.txt"));
}

TEST_F(FindFileTest, NeverFollowsSymbolicLinksAndMovesThemAsLinks) {
  params_.Recurse = true;
  const auto date = UtcSeconds(2021, 6, 15);
  WriteFile(root_.slash() + "outside/secret.txt", "s", date);
  ASSERT_EQ(::symlink((root_.slash() + "outside").c_str(), (source_ + "link").c_str()), 0);
  ASSERT_EQ(::symlink(source_.c_str(), (source_ + "loop").c_str()), 0);
  testing::SetModified(source_ + "link", UtcSeconds(2019, 1, 1));
  testing::SetModified(source_ + "loop", date);

  Walk();

  EXPECT_TRUE(Exists(root_.slash() + "outside/secret.txt"));
  EXPECT_TRUE(Exists(source_ + "link"));  // its own date does not match
  struct stat st;
  ASSERT_EQ(::lstat((target_ + "loop").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(params_.SearchedCount, 4);
}

TEST_F(FindFileTest, RenamesTheLogCannotTakeAreLoggedByTheNextRun) {
  const auto date = UtcSeconds(2021, 6, 15);
  WriteFile(source_ + "a.txt", "a", date);
  WriteFile(source_ + "b.txt", "b", date);
  RunLog full;
  ASSERT_TRUE(full.Create("/dev/full").ok());

  FindFile(params_.SourcePath, params_, full, window_);

  // The batch's renames were made before their entries failed to reach the
  // log: the journal that names them stays, and the next run logs them.
  EXPECT_TRUE(full.IsBroken());
  EXPECT_TRUE(Exists(target_ + "a.txt"));
  EXPECT_TRUE(Exists(target_ + "b.txt"));
  EXPECT_EQ(params_.MovedCount, 2);
  SearchParams again = params_;
  again.MovedCount = again.RecoveredCount = 0;
  RunLog next;
  ASSERT_TRUE(next.Create(root_.slash() + "next.txt").ok());
  FindFile(again.SourcePath, again, next, window_);
  next.Close();
  EXPECT_EQ(again.RecoveredCount, 2);
  const std::string text = ReadFile(root_.slash() + "next.txt");
  EXPECT_NE(text.find("a.txt"), std::string::npos);
  EXPECT_NE(text.find("b.txt"), std::string::npos);
  for (const std::string& name : testing::NamesIn(target_)) EXPECT_FALSE(name.starts_with(".qor-"));
}

}  // namespace
// A power cut can leave a rename on the disk under both names, one file with
// two links: the next run finishes that move. A file of its own at the
// target, even with the very same bytes and time, is never taken for it.
TEST_F(FindFileTest, FinishesAMoveLeftUnderBothNamesAndNothingElse) {
  params_.CompareMode = kCompareEqual;
  const auto date = UtcSeconds(2021, 6, 15);
  WriteFile(source_ + "linked.txt", "one file", date);
  ASSERT_EQ(::link((source_ + "linked.txt").c_str(), (target_ + "linked.txt").c_str()), 0);
  WriteFile(source_ + "alike.txt", "same bytes", date);
  WriteFile(target_ + "alike.txt", "same bytes", date);

  Walk();

  EXPECT_FALSE(Exists(source_ + "linked.txt"));
  EXPECT_EQ(ReadFile(target_ + "linked.txt"), "one file");
  EXPECT_EQ(ReadFile(source_ + "alike.txt"), "same bytes");
  EXPECT_EQ(params_.FailedCount, 1);
  EXPECT_NE(Log().find("linked.txt      MOVED to"), std::string::npos) << Log();
  EXPECT_NE(Log().find("alike.txt      NOT MOVED: File exists"), std::string::npos) << Log();
}

}  // namespace qor
