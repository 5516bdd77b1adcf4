#include "run/move_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <vector>

#include "platform/text_file.h"
#include "support/temp_tree.h"

namespace qor {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::TempFolder;
using testing::UtcSeconds;
using testing::WriteFile;

// A window that records every call in order as a short text.
class FakeRunWindow : public RunWindow {
 public:
  explicit FakeRunWindow(SearchParams& params) : params_(params) {}

  MessageAnswer ShowMessage(const std::string& prompt, const std::optional<std::string>& title,
                            MessageButtons) override {
    messages.push_back({prompt, title.value_or("<none>")});
    calls.push_back("message");
    if (close_at_message) closing = true;
    return MessageAnswer::Ok;
  }
  std::string PathText(int index) override { return paths[index]; }
  void SetPathText(int index, const std::string& text) override { paths[index] = text; }
  std::string DateText(int index) override { return dates[index]; }
  void SetDateText(int index, const std::string& text) override { dates[index] = text; }
  int CheckValue(CheckBox box) override { return checks[box]; }
  void SetCheckValue(CheckBox box, int value) override { checks[box] = value; }
  void FocusPathBox(int) override {}
  void FocusDateBox(int) override {}
  void SetCounterLabel(int index, const std::string& text) override {
    labels[index] = text;
    calls.push_back("label" + std::to_string(index) + "=" + text);
  }
  bool Yield() override {
    calls.push_back("yield");
    if (on_yield) on_yield();
    return !closing;
  }
  bool CheckDate() override {
    calls.push_back("CheckDate");
    params_.Day = 15;
    params_.Month = 6;
    params_.Year = 2021;
    return date_ok;
  }
  bool CheckPaths() override {
    calls.push_back("CheckPaths");
    if (on_check_paths) on_check_paths();
    return paths_ok;
  }
  void SetGoEnabled(bool enabled) override { calls.push_back(enabled ? "go on" : "go off"); }
  void SetGoCaption(const std::string& caption) override { calls.push_back("caption " + caption); }
  void SetRunActive(bool active) override { calls.push_back(active ? "active" : "inactive"); }
  void SetInputsEnabled(bool enabled) override { calls.push_back(enabled ? "unlock" : "lock"); }
  void SetTimerInterval(int ms) override { calls.push_back("timer " + std::to_string(ms)); }
  bool IsClosing() override { return closing; }

  struct Message {
    std::string prompt;
    std::string title;
  };
  std::vector<Message> messages;
  std::vector<std::string> calls;
  std::map<int, std::string> paths;
  std::map<int, std::string> dates;
  std::map<CheckBox, int> checks;
  std::map<int, std::string> labels;
  bool date_ok = true;
  bool paths_ok = true;
  bool closing = false;
  bool close_at_message = false;
  std::function<void()> on_yield;
  std::function<void()> on_check_paths;

 private:
  SearchParams& params_;
};

// Runs each test inside its own current folder, where the run log lands.
class MoveRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = root_.slash() + "in/";
    target_ = root_.slash() + "out/";
    ::mkdir(source_.c_str(), 0777);
    window_.paths[kSourceBox] = source_;
    window_.paths[kTargetBox] = target_;
    window_.checks[CheckBox::AddDateTarget] = 0;
    window_.labels = {{0, "7"}, {1, "8"}, {2, "9"}};
  }

  std::string LogPath() const { return work_.slash() + "FileFind20210615.txt"; }

  // The run stops before anything moves or changes, and says why.
  void ExpectRefusedForTheLog(const std::string& reason) {
    EXPECT_EQ(RunMove(window_, params_), RunOutcome::Refused);
    ASSERT_EQ(window_.messages.size(), 1u);
    EXPECT_EQ(window_.messages[0].title, "Arrgh");
    EXPECT_EQ(window_.messages[0].prompt.rfind("Run log cannot be created\r\n", 0), 0u);
    EXPECT_NE(window_.messages[0].prompt.find("FileFind20210615.txt\r\n" + reason),
              std::string::npos)
        << window_.messages[0].prompt;
    EXPECT_EQ(ReadFile(source_ + "a.txt"), "a");
    EXPECT_EQ(window_.labels[0], "7");
    EXPECT_EQ(std::count(window_.calls.begin(), window_.calls.end(), "go off"), 0);
  }

  TempFolder root_;
  TempFolder work_;
  testing::CurrentFolder in_work_{work_.path()};
  std::string source_;
  std::string target_;
  SearchParams params_;
  FakeRunWindow window_{params_};
};

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
  EXPECT_EQ(ReadFile(LogPath()), "a.txt      MOVED to   " + target_ + "\r\n");
  EXPECT_EQ(params_.SourcePath, source_);
  EXPECT_EQ(params_.TargetPath, target_);
}

TEST_F(MoveRunTest, AddsTheDateFolderWhenTheBoxIsTickedOrGreyed) {
  for (const int value : {1, 2}) {
    SCOPED_TRACE(value);
    window_.checks[CheckBox::AddDateTarget] = value;
    const std::string name = "f" + std::to_string(value);
    WriteFile(source_ + name, "x", UtcSeconds(2021, 6, 15));

    EXPECT_EQ(RunMove(window_, params_), RunOutcome::Completed);

    EXPECT_EQ(params_.TargetPath, target_ + "20210615/");
    EXPECT_TRUE(Exists(target_ + "20210615/" + name));
    EXPECT_EQ(ReadFile(LogPath()), name + "      MOVED to   " + target_ + "20210615/\r\n")
        << "a second run with the same date replaces the log";
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
  window_.paths[kTargetBox] = root_.slash() + "plain-file/";
  window_.checks[CheckBox::AddDateTarget] = 1;

  EXPECT_EQ(RunMove(window_, params_), RunOutcome::Refused);

  ASSERT_EQ(window_.messages.size(), 1u);
  EXPECT_EQ(window_.messages[0].prompt, "fail\r\n" + root_.slash() + "plain-file/20210615/");
  EXPECT_EQ(window_.messages[0].title, "Target create");
  EXPECT_EQ(params_.TargetPath, root_.slash() + "plain-file/20210615/");
  EXPECT_FALSE(Exists(LogPath()));
  EXPECT_EQ(window_.labels[0], "7");
}

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
  ::mkdir(target_.c_str(), 0777);
  for (const char* name : {"x", "y", "z"}) {
    WriteFile(source_ + name, "new", date);
  }
  WriteFile(target_ + "x", "old", date);
  WriteFile(target_ + "y", "old", date);

  RunMove(window_, params_);

  ASSERT_EQ(window_.messages.size(), 1u);
  EXPECT_EQ(window_.messages[0].prompt,
            "3\r\n2 of them could not be moved; see FileFind20210615.txt");
  EXPECT_EQ(ReadFile(target_ + "x"), "old");
  EXPECT_EQ(params_.MovedCount, 3);
}

TEST_F(MoveRunTest, TheClosingMessageTellsOfFoldersThatCouldNotBeRead) {
  // The source goes away after the checks passed, before the walk lists it.
  window_.on_check_paths = [&] { ASSERT_EQ(::rmdir(source_.c_str()), 0); };

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
  EXPECT_EQ(log.size() >= 2 ? log.substr(log.size() - 2) : log, "\r\n");
  int left = 0;
  for (int i = 0; i < 150; ++i) left += Exists(source_ + "f" + std::to_string(i)) ? 1 : 0;
  EXPECT_EQ(left, 150 - params_.MovedCount);
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
