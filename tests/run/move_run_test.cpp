#include "run/move_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "platform/text_file.h"
#include "run/move_run_fixture.h"

namespace qor {
namespace {

TEST_F(MoveRunTest, AWholeRunFollowsItsStepsInOrder) {
  WriteFile(source_ + "a.txt", "a", UtcSeconds(2021, 6, 15));
  WriteFile(source_ + "b.txt", "b", UtcSeconds(2021, 6, 16));

  EXPECT_EQ(RunMove(window_, params_), RunOutcome::Completed);

  const std::vector<std::string> expected = {
      "CheckDate", "CheckPaths", "go off", "active", "label0=0", "label1=0", "label2=0", "lock",
      "timer 800", "caption working...",
      // the walk: one folder of four entries, refreshed and yielded at its end
      "label0=4", "label1=1", "label2=0", "yield", "caption GO", "unlock", "timer 0", "message",
      "inactive", "go on"};
  EXPECT_EQ(window_.calls, expected);
  ASSERT_EQ(window_.messages.size(), 1u);
  EXPECT_EQ(window_.messages[0].prompt, "1");
  EXPECT_EQ(window_.messages[0].title, "DONE moving");
  EXPECT_EQ(ReadFile(target_ + "a.txt"), "a");
  EXPECT_EQ(params_.SourcePath, source_);
  EXPECT_EQ(params_.TargetPath, target_);
  if (!LogKeepsSeparators()) GTEST_SKIP() << kSeparatorEscaped;
  EXPECT_EQ(ReadFile(LogPath()), "a.txt      MOVED to   " + target_ + "\r\n");
}

TEST_F(MoveRunTest, AddsTheDateFolderWhenTheBoxIsTickedOrGreyed) {
  for (const int value : {1, 2}) {
    SCOPED_TRACE(value);
    window_.checks[CheckBox::AddDateTarget] = value;
    const std::string name = "f" + std::to_string(value);
    WriteFile(source_ + name, "x", UtcSeconds(2021, 6, 15));

    EXPECT_EQ(RunMove(window_, params_), RunOutcome::Completed);

    EXPECT_EQ(params_.TargetPath, target_ + Native("20210615/"));
    EXPECT_TRUE(Exists(target_ + Native("20210615/") + name));
    if (LogKeepsSeparators()) {
      EXPECT_EQ(ReadFile(LogPath()), name + "      MOVED to   " + target_ + Native("20210615/\r\n"))
          << "the newest run's log has the name";
    }
  }
  if (!LogKeepsSeparators()) GTEST_SKIP() << kSeparatorEscaped;
}

// A run with the date of an earlier one keeps the log's name; the earlier
// log, the only record of where its files went, is kept under the next free
// number. An empty one is simply used.
TEST_F(MoveRunTest, AnEarlierRunsLogOfTheSameNameIsKeptUnderTheNextFreeNumber) {
  const struct {
    const char* label;
    std::string earlier;  // what the log's name holds before the run
    bool taken_2;         // "-2" is taken by another file
    const char* kept_as;  // where the earlier log went, if anywhere
  } cases[] = {
      {"an empty one", "", false, nullptr},
      {"an earlier log", "x.txt      MOVED to   /t/\r\n", false, "FileFind20210615-2.txt"},
      {"-2 taken", "x.txt      MOVED to   /t/\r\n", true, "FileFind20210615-3.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    for (const char* name : {"FileFind20210615-2.txt", "FileFind20210615-3.txt"}) {
      std::filesystem::remove(work_.slash() + name);
    }
    WriteFile(LogPath(), c.earlier, 0);
    if (c.taken_2) WriteFile(work_.slash() + "FileFind20210615-2.txt", "someone's", 0);
    WriteFile(source_ + "a.txt", "a", UtcSeconds(2021, 6, 15));
    window_.messages.clear();

    EXPECT_EQ(RunMove(window_, params_), RunOutcome::Completed);

    EXPECT_NE(ReadFile(LogPath()).find("a.txt"), std::string::npos) << "the newest run's";
    if (c.kept_as != nullptr) {
      EXPECT_EQ(ReadFile(work_.slash() + c.kept_as), c.earlier);
    }
    EXPECT_EQ(Exists(work_.slash() + "FileFind20210615-2.txt"), c.kept_as != nullptr || c.taken_2);
    EXPECT_EQ(Exists(work_.slash() + "FileFind20210615-3.txt"), c.taken_2);
    if (c.taken_2) {
      EXPECT_EQ(ReadFile(work_.slash() + "FileFind20210615-2.txt"), "someone's");
    }
    std::filesystem::remove(target_ + "a.txt");
  }
}

TEST_F(MoveRunTest, ARefusedStartChangesNothing) {
  for (const bool date_ok : {false, true}) {
    window_.date_ok = date_ok;
    window_.paths_ok = false;
    window_.calls.clear();

    EXPECT_EQ(RunMove(window_, params_), RunOutcome::Refused);

    EXPECT_EQ(window_.calls.back(), date_ok ? "CheckPaths" : "CheckDate");
    EXPECT_FALSE(Exists(LogPath()));
    EXPECT_EQ(window_.labels[0], "7");
    EXPECT_TRUE(params_.SourcePath.empty());
  }
}

TEST_F(MoveRunTest, ATargetFolderThatCannotBeMadeIsReportedAndNothingStarts) {
  WriteFile(root_.slash() + "plain-file", "x", 0);
  window_.paths[kTargetBox] = root_.slash() + Native("plain-file/");
  window_.checks[CheckBox::AddDateTarget] = 1;

  EXPECT_EQ(RunMove(window_, params_), RunOutcome::Refused);

  ASSERT_EQ(window_.messages.size(), 1u);
  EXPECT_EQ(window_.messages[0].prompt,
            "fail\r\n" + root_.slash() + Native("plain-file/20210615/"));
  EXPECT_EQ(window_.messages[0].title, "Target create");
  EXPECT_EQ(params_.TargetPath, root_.slash() + Native("plain-file/20210615/"));
  EXPECT_FALSE(Exists(LogPath()));
  EXPECT_EQ(window_.labels[0], "7");
}

TEST_F(MoveRunTest, ARunLogThatAnotherRunWritesStopsTheRunAndKeepsThatLog) {
  WriteFile(source_ + "a.txt", "a", UtcSeconds(2021, 6, 15));
  const std::string other_entry = "b.txt      MOVED to   /elsewhere/\r\n";
  platform::TextFile other_run;
  ASSERT_TRUE(other_run.Create(LogPath()).ok());
  ASSERT_TRUE(other_run.Write(other_entry).ok());

  ExpectRefusedForTheLog("another run is using it");
  EXPECT_EQ(ReadFile(LogPath()), other_entry);
}

TEST_F(MoveRunTest, TheClosingMessageTellsHowManyFilesCouldNotBeMoved) {
  const auto date = UtcSeconds(2021, 6, 15);
  std::filesystem::create_directory(testing::FsPath(target_));
  for (const char* name : {"x", "y", "z"}) {
    WriteFile(source_ + name, "new", date);
  }
  WriteFile(target_ + "x", "old", date);
  WriteFile(target_ + "y", "old", date);

  RunMove(window_, params_);

  ASSERT_EQ(window_.messages.size(), 1u);
  EXPECT_EQ(window_.messages[0].prompt, "3\r\n2 of them could not be moved; see " + LogPath());
  EXPECT_EQ(ReadFile(target_ + "x"), "old");
  EXPECT_EQ(params_.MovedCount, 3);
}

TEST_F(MoveRunTest, TheClosingMessageTellsOfFoldersThatCouldNotBeRead) {
  // The source goes away after the checks passed, before the walk lists it.
  window_.on_check_paths = [&] { ASSERT_TRUE(std::filesystem::remove(testing::FsPath(source_))); };

  EXPECT_EQ(RunMove(window_, params_), RunOutcome::Completed);

  ASSERT_EQ(window_.messages.size(), 1u);
  EXPECT_EQ(window_.messages[0].prompt, "0\r\n1 folder could not be read");
  EXPECT_EQ(params_.UnreadFolders, 1);
}

TEST_F(MoveRunTest, ClosingDuringTheWalkAbandonsTheRunAndKeepsTheLogComplete) {
  const auto date = UtcSeconds(2021, 6, 15);
  for (int i = 0; i < 150; ++i) WriteFile(source_ + "f" + std::to_string(i), "x", date);
  window_.on_yield = [&] { window_.closing = true; };

  EXPECT_EQ(RunMove(window_, params_), RunOutcome::Abandoned);

  EXPECT_EQ(window_.calls.back(), "yield") << "nothing touched after the yield that closed";
  EXPECT_TRUE(window_.messages.empty());
  const std::string log = ReadFile(LogPath());
  std::size_t lines = 0;
  for (std::size_t p = 0; (p = log.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
  EXPECT_EQ(lines, static_cast<std::size_t>(params_.MovedCount));
  EXPECT_TRUE(log.empty() || log.ends_with("\r\n")) << log;
  int left = 0;
  for (int i = 0; i < 150; ++i) left += Exists(source_ + "f" + std::to_string(i)) ? 1 : 0;
  EXPECT_EQ(left, 150 - params_.MovedCount);
}

TEST_F(MoveRunTest, AFailureInsideTheWalkEndsTheRunWithTheTruthInItsMessage) {
  const auto date = UtcSeconds(2021, 6, 15);
  for (int i = 0; i < 120; ++i) WriteFile(source_ + "f" + std::to_string(i), "x", date);
  int yields = 0;
  window_.on_yield = [&] {
    if (++yields == 2) throw std::bad_alloc();
  };

  EXPECT_EQ(RunMove(window_, params_), RunOutcome::Completed);

  ASSERT_EQ(window_.messages.size(), 1u);
  EXPECT_EQ(window_.messages[0].title, "DONE moving");
  EXPECT_NE(window_.messages[0].prompt.find("The run stopped early (out of memory)"),
            std::string::npos)
      << window_.messages[0].prompt;
  int left = 0;
  for (int i = 0; i < 120; ++i) left += Exists(source_ + "f" + std::to_string(i)) ? 1 : 0;
  EXPECT_GT(left, 0);
  EXPECT_EQ(left, 120 - params_.MovedCount);
  EXPECT_NE(std::count(window_.calls.begin(), window_.calls.end(), "unlock"), 0);
}

TEST_F(MoveRunTest, ClosingWhileTheClosingMessageIsOpenLeavesTheWindowAlone) {
  window_.close_at_message = true;
  EXPECT_EQ(RunMove(window_, params_), RunOutcome::Abandoned);
  EXPECT_EQ(window_.calls.back(), "message");
  EXPECT_TRUE(Exists(LogPath()));
}

TEST(DateStampTest, PadsYearMonthAndDay) {
  EXPECT_EQ(MakeDateStamp(2024, 3, 5), "20240305");
  EXPECT_EQ(MakeDateStamp(1990, 12, 31), "19901231");
  EXPECT_EQ(MakeDateStamp(12345, 1, 1), "123450101");
}

}  // namespace
}  // namespace qor
