#include "run/run_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/full_disk.h"
#include "support/temp_tree.h"

namespace qor {
namespace {

using testing::ReadFile;
using testing::SmallFileSystem;

// Entries written as the walk writes them, on a disk that is full but for
// the room the log took ahead: every entry that was begun is finished, and
// the first that finds no room is not begun at all.
TEST(RunLogTest, OnAFullDiskEveryEntryBegunIsFinished) {
  SmallFileSystem disk(256);
  if (!disk.mounted()) GTEST_SKIP() << disk.why_not();
  const std::string path = disk.slash() + "FileFind20210615.txt";
  const std::string rest = "      MOVED to   /out/";
  RunLog log;
  ASSERT_TRUE(log.Create(path).ok());
  ASSERT_TRUE(log.StartEntry("sub/file0.txt", rest.size() + 2));
  disk.Fill();
  log.EndEntry(rest);

  std::string expected = "sub/file0.txt" + rest + "\r\n";
  int entries = 1;
  for (; entries < 100000; ++entries) {
    const std::string first = "sub/file" + std::to_string(entries) + ".txt";
    if (!log.StartEntry(first, rest.size() + 2)) break;
    log.EndEntry(rest);
    expected += first + rest + "\r\n";
  }
  EXPECT_GT(entries, 1) << "the room taken ahead serves more than one entry";
  EXPECT_TRUE(log.IsBroken());
  EXPECT_EQ(log.WriteError(), ENOSPC);
  EXPECT_EQ(ReadFile(path), expected) << "the last entry's ending was not written";
  EXPECT_FALSE(log.StartEntry("late.txt", 0)) << "a broken log takes nothing more";
  log.Close();
  EXPECT_EQ(ReadFile(path), expected);
}

// An entry's ending waits for what is written next, but each way of going
// on writes it, before anything else.
TEST(RunLogTest, AnEndingHeldBackIsWrittenByWhateverComesNext) {
  testing::TempFolder folder;
  const std::string path = folder.slash() + "FileFind20210615.txt";
  const std::vector<std::pair<std::string, std::function<void(RunLog&)>>> next = {
      {"b.txt", [](RunLog& log) { log.StartEntry("b.txt", 0); }},
      {"", [](RunLog& log) { log.Flush(); }},
      {"", [](RunLog& log) { log.Sync(); }},
      {"", [](RunLog& log) { log.Close(); }},
      {"total\r\n", [](RunLog& log) { log.AppendLine("total"); }},
  };
  for (const auto& [after, go_on] : next) {
    RunLog log;
    ASSERT_TRUE(log.Create(path).ok());
    ASSERT_TRUE(log.StartEntry("a.txt", 32));
    log.EndEntry("      MOVED to   /out/");
    go_on(log);
    EXPECT_EQ(ReadFile(path), "a.txt      MOVED to   /out/\r\n" + after);
  }
}

}  // namespace
}  // namespace qor
