#pragma once

// The fixture of the walk's tests, on every system.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "run/find_file.h"
#include "run/test_paths.h"
#include "support/temp_tree.h"

namespace qor {

using testing::Exists;
using testing::ReadFile;
using testing::TempFolder;
using testing::UtcSeconds;
using testing::WriteFile;

// Records what the walk does to the window; can tell it to give up.
class RecordingWindow : public WalkObserver {
 public:
  void SetCounterLabel(int index, const std::string& text) override {
    labels.push_back({index, text});
  }
  bool Yield() override {
    ++yields;
    if (on_yield) on_yield();
    return yields != abandon_at_yield;
  }

  struct Label {
    int index;
    std::string text;
  };
  std::vector<Label> labels;
  int yields = 0;
  int abandon_at_yield = -1;
  std::function<void()> on_yield;
};

class FindFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = root_.slash() + Native("in/");
    target_ = root_.slash() + Native("out/");
    std::filesystem::create_directory(testing::FsPath(source_));
    std::filesystem::create_directory(testing::FsPath(target_));
    params_.SourcePath = source_;
    params_.TargetPath = target_;
    params_.Day = 15;
    params_.Month = 6;
    params_.Year = 2021;
    log_path_ = root_.slash() + "FileFind20210615.txt";
    ASSERT_TRUE(log_.Create(log_path_).ok());
  }

  WalkEnd Walk() {
    const WalkEnd end = FindFile(params_.SourcePath, params_, log_, window_);
    log_.Close();
    return end;
  }
  std::string Log() { return ReadFile(log_path_); }

  TempFolder root_;
  std::string source_;
  std::string target_;
  SearchParams params_;
  RunLog log_;
  std::string log_path_;
  RecordingWindow window_;
};

}  // namespace qor
