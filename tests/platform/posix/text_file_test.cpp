#include "platform/text_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/temp_tree.h"

namespace qor::platform {
namespace {

using qor::testing::ReadFile;
using qor::testing::TempFolder;
using qor::testing::WriteFile;

TEST(TextFileTest, EmptiesAnExistingFileAndWritesEveryPieceAtOnce) {
  TempFolder folder;
  const std::string path = folder.slash() + "log.txt";
  WriteFile(path, "from an earlier run\r\n", 0);
  TextFile file;
  ASSERT_TRUE(file.Create(path).ok());
  ASSERT_TRUE(file.Write("first").ok());
  EXPECT_EQ(ReadFile(path), "first") << "nothing held back in the process";
  ASSERT_TRUE(file.Write(" piece\r\n").ok());
  EXPECT_TRUE(file.Sync().ok());
  EXPECT_TRUE(file.Close().ok());
  EXPECT_EQ(ReadFile(path), "first piece\r\n");
}

TEST(TextFileTest, RefusesALinkAndNeverBlocksOnAPipe) {
  TempFolder folder;
  const std::string victim = folder.slash() + "precious.txt";
  WriteFile(victim, "keep me", 0);
  ASSERT_EQ(::symlink(victim.c_str(), (folder.slash() + "link.txt").c_str()), 0);
  ASSERT_EQ(::mkfifo((folder.slash() + "pipe.txt").c_str(), 0600), 0);

  TextFile through_link;
  EXPECT_EQ(through_link.Create(folder.slash() + "link.txt").error, ELOOP);
  EXPECT_EQ(ReadFile(victim), "keep me");
  TextFile pipe;
  EXPECT_EQ(pipe.Create(folder.slash() + "pipe.txt").error, ENXIO);
}

}  // namespace
}  // namespace qor::platform
