// A move from one drive to another copies across volumes; its undo copies
// back. C: holds the system's folder for temporary files; scripts/
// test_windows.sh maps Q: onto another file system.

#include <gtest/gtest.h>

#include <filesystem>

#include "cli/cli_run.h"
#include "support/temp_tree.h"

namespace qor::testing {

namespace {

std::filesystem::file_time_type Modified(const std::string& path) {
  return std::filesystem::last_write_time(FsPath(path));
}

// A run that took nothing leaves no log; an empty file of the log's name that
// was there before is not the run's and stays.
TEST(CliDrivesTest, ARunThatTookNothingLeavesNoLogOfItsOwn) {
  for (const bool there_before : {false, true}) {
    SCOPED_TRACE(there_before);
    TempFolder source, target, cwd;
    WriteFile(source.slash() + "a.txt", "alpha", UtcSeconds(2020, 1, 2));
    if (there_before) WriteFile(cwd.slash() + "FileFind19990101.txt", "", UtcSeconds(2020, 1, 2));
    const CliResult run =
        RunCli({"move", source.path(), target.path(), "--on", "1999-01-01"}, cwd.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("no log written") != std::string::npos, !there_before) << run.err;
    EXPECT_EQ(NamesIn(cwd.path()).size(), there_before ? 1u : 0u);
  }
}

TEST(CliDrivesTest, AMoveFromCToQAndItsUndoKeepNamesBytesAndTimes) {
  if (::GetDriveTypeW(L"Q:\\") == DRIVE_NO_ROOT_DIR) {
    GTEST_SKIP() << "no drive Q: here (scripts/test_windows.sh maps one onto another file system)";
  }
  TempFolder here;
  ASSERT_EQ(here.path().substr(0, 2), "C:") << here.path();
  TempFolder there("Q:");
  const std::string source = here.slash() + "src";
  const std::string target = there.slash() + "dst";
  const std::string big(300000, 'x');
  const struct {
    std::string relative, content;
  } files[] = {{"a.txt", "alpha"}, {"sub\\b.bin", big}};
  for (const auto& file : files) {
    WriteFile(source + '\\' + file.relative, file.content, UtcSeconds(2020, 1, 2, 3, 4));
  }
  std::filesystem::create_directory(FsPath(target));
  const auto written = Modified(source + "\\a.txt");
  const std::string log = here.slash() + "run.txt";

  const CliResult moved =
      RunCli({"move", "-r", "--log", log, source, target, "--on", "2020-01-02"}, here.path());
  ASSERT_EQ(moved.status, 0) << moved.err;
  for (const auto& file : files) {
    EXPECT_FALSE(Exists(source + '\\' + file.relative)) << file.relative;
    EXPECT_EQ(ReadFile(target + '\\' + file.relative), file.content) << file.relative;
    EXPECT_EQ(Modified(target + '\\' + file.relative), written) << file.relative;
  }

  const CliResult undone =
      RunCli({"undo", "--log", here.slash() + "undo.txt", log, source}, here.path());
  ASSERT_EQ(undone.status, 0) << undone.err;
  for (const auto& file : files) {
    EXPECT_FALSE(Exists(target + '\\' + file.relative)) << file.relative;
    EXPECT_EQ(ReadFile(source + '\\' + file.relative), file.content) << file.relative;
    EXPECT_EQ(Modified(source + '\\' + file.relative), written) << file.relative;
  }
}

}  // namespace

}  // namespace qor::testing
