#pragma once

// The fixture of the whole run's tests, on every system.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "run/move_run.h"
#include "run/test_paths.h"
#include "support/temp_tree.h"

namespace qor {

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
    source_ = root_.slash() + Native("in/");
    target_ = root_.slash() + Native("out/");
    std::filesystem::create_directory(testing::FsPath(source_));
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

}  // namespace qor
