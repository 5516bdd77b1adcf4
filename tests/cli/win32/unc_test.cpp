// Runs with source and target on UNC paths (\\server\share\...): within one
// share a move renames, between two shares on other file systems it copies,
// and an undo brings the files back onto the share they came from.
// scripts/test_windows.sh serves \\localhost\qor-unc-a from the disk and
// \\localhost\qor-unc-b from tmpfs.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "cli/cli_run.h"
#include "support/temp_tree.h"

namespace qor::testing {
namespace {

constexpr const char* kDiskShare = R"(\\localhost\qor-unc-a)";
constexpr const char* kMemoryShare = R"(\\localhost\qor-unc-b)";

bool IsServed(const std::string& share) {
  const DWORD attributes = ::GetFileAttributesW(FsPath(share).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::filesystem::file_time_type Modified(const std::string& path) {
  return std::filesystem::last_write_time(FsPath(path));
}

TEST(CliUncTest, AMoveBetweenSharesAndItsUndoKeepFoldersAndReplaceNothing) {
  for (const std::string share : {kDiskShare, kMemoryShare}) {
    if (!IsServed(share)) {
      GTEST_SKIP() << "no share " << share << " here (scripts/test_windows.sh serves it)";
    }
  }
  const struct {
    const char* what;
    const char* source_share;
    const char* target_share;
  } cases[] = {{"within one share", kDiskShare, kDiskShare},
               {"from one volume to another", kDiskShare, kMemoryShare}};
  const struct {
    std::string relative, content;
    bool moves;  // old enough, and its name free at the target
  } files[] = {{"a.txt", "alpha", true},
               {"sub\\deep\\b.bin", std::string(300000, 'b'), true},
               {"taken.txt", "mine", false},
               {"sub\\new.txt", "new", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder from(c.source_share), to(c.target_share), here;
    const std::string source = from.slash() + "src", target = to.slash() + "dst";
    for (const auto& file : files) {
      const bool recent = file.relative == "sub\\new.txt";
      WriteFile(source + '\\' + file.relative, file.content,
                recent ? UtcSeconds(2020, 6, 1) : UtcSeconds(2020, 1, 2));
    }
    WriteFile(target + "\\taken.txt", "theirs", UtcSeconds(2020, 1, 2));
    const auto written = Modified(source + "\\a.txt");
    const std::string log = to.slash() + "run.txt";

    const CliResult moved =
        RunCli({"move", "-r", "--log", log, source, target, "--before", "2020-03-01"}, here.path());
    EXPECT_EQ(moved.status, 1) << moved.err;
    EXPECT_NE(moved.err.find("taken.txt"), std::string::npos) << moved.err;
    std::set<std::string> wanted;
    for (const auto& file : files) {
      const std::string from_path = source + '\\' + file.relative;
      const std::string to_path = target + '\\' + file.relative;
      if (file.moves) {
        EXPECT_FALSE(Exists(from_path)) << file.relative;
        EXPECT_EQ(ReadFile(to_path), file.content) << file.relative;
        EXPECT_EQ(Modified(to_path), written) << file.relative;
        wanted.insert(file.relative + "      MOVED to   " + target + "\\\r");
      } else {
        EXPECT_EQ(ReadFile(from_path), file.content) << file.relative;
      }
    }
    EXPECT_EQ(ReadFile(target + "\\taken.txt"), "theirs");
    EXPECT_FALSE(Exists(target + "\\sub\\new.txt"));
    // Every moved file is named with the target as given; the taken name is
    // logged as not moved, with the system's reason.
    const std::vector<std::string> lines = Lines(ReadFile(log));
    const auto refused = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line.starts_with("taken.txt      NOT MOVED: ");
    });
    ASSERT_NE(refused, lines.end()) << ReadFile(log);
    wanted.insert(*refused);
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), wanted);
    EXPECT_EQ(lines.size(), wanted.size());

    const CliResult undone =
        RunCli({"undo", "--log", to.slash() + "undo.txt", log, source}, here.path());
    EXPECT_EQ(undone.status, 0) << undone.err;
    for (const auto& file : files) {
      EXPECT_EQ(ReadFile(source + '\\' + file.relative), file.content) << file.relative;
      if (file.moves) {
        EXPECT_FALSE(Exists(target + '\\' + file.relative)) << file.relative;
        EXPECT_EQ(Modified(source + '\\' + file.relative), written) << file.relative;
      }
    }
    EXPECT_EQ(ReadFile(target + "\\taken.txt"), "theirs");
  }
}

}  // namespace
}  // namespace qor::testing
