#include "run/run_log.h"

#include <gtest/gtest.h>

#include <cerrno>

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
  ASSERT_TRUE(log.AppendLine(rest));

  std::string expected = "sub/file0.txt" + rest + "\r\n";
  int entries = 1;
  for (; entries < 100000; ++entries) {
    const std::string first = "sub/file" + std::to_string(entries) + ".txt";
    if (!log.StartEntry(first, rest.size() + 2)) break;
    ASSERT_TRUE(log.AppendLine(rest)) << "entry " << entries;
    expected += first + rest + "\r\n";
  }
  EXPECT_GT(entries, 1) << "the room taken ahead serves more than one entry";
  EXPECT_TRUE(log.IsBroken());
  EXPECT_EQ(log.WriteError(), ENOSPC);
  EXPECT_FALSE(log.StartEntry("late.txt", 0)) << "a broken log takes nothing more";
  log.Close();
  EXPECT_EQ(ReadFile(path), expected);
}

}  // namespace
}  // namespace qor
