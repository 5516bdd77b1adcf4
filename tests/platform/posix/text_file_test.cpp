#include "platform/text_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "support/full_disk.h"
#include "support/temp_tree.h"
#include "syscall_seam.h"

namespace qor::platform {
namespace {

using qor::testing::FileSizeLimit;
using qor::testing::ReadFile;
using qor::testing::SmallFileSystem;
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

// A power cut takes a file whose name never reached the disk with all it
// holds: the first sync brings the name there too, once.
TEST(TextFileTest, ItsFirstSyncBringsItsNameToTheDiskAsWell) {
  TempFolder folder;
  TextFile file;
  ASSERT_TRUE(file.Create(folder.slash() + "log.txt").ok());
  qor::testing::SyscallSeam seam;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(file.Write("entry\r\n").ok());
    ASSERT_TRUE(file.Sync().ok());
  }
  int files = 0, folders = 0;
  for (const qor::testing::SyscallEvent& e : seam.Events()) {
    if (e.call == "fsync") ++(e.from == "folder" ? folders : files);
  }
  EXPECT_EQ(files, 3);
  EXPECT_EQ(folders, 1);
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

TEST(TextFileTest, WhileOneHoldsTheFileAnotherIsRefusedAndEmptiesNothing) {
  TempFolder folder;
  const std::string path = folder.slash() + "log.txt";
  TextFile first;
  ASSERT_TRUE(first.Create(path).ok());
  ASSERT_TRUE(first.Write("one\r\n").ok());

  TextFile second;
  EXPECT_EQ(second.Create(path).error, kInUseByAnotherRun);
  EXPECT_FALSE(second.IsOpen());
  ASSERT_TRUE(first.Write("two\r\n").ok());
  ASSERT_TRUE(first.Close().ok());
  EXPECT_EQ(ReadFile(path), "one\r\ntwo\r\n");

  // Once the first is closed, the next one replaces the file.
  ASSERT_TRUE(second.Create(path).ok());
  EXPECT_TRUE(second.Close().ok());
  EXPECT_EQ(ReadFile(path), "");
}

TEST(TextFileTest, ReservedRoomCanBeWrittenOnAFullDiskAndIsGivenBackAtClose) {
  SmallFileSystem disk(256);
  if (!disk.mounted()) GTEST_SKIP() << disk.why_not();
  const std::string path = disk.slash() + "log.txt";
  const std::string entry = "sub/name.txt" + std::string(400, '.') + "\r\n";
  TextFile file;
  ASSERT_TRUE(file.Create(path).ok());
  ASSERT_TRUE(file.Reserve(entry.size()).ok());
  disk.Fill();

  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0) << "the room taken does not show in the size";
  EXPECT_TRUE(file.Write(entry.substr(0, 12)).ok());
  EXPECT_TRUE(file.Write(entry.substr(12)).ok());
  EXPECT_EQ(file.Reserve(512 * 1024).error, ENOSPC);
  EXPECT_TRUE(file.Close().ok());
  EXPECT_EQ(ReadFile(path), entry);

  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_LE(st.st_blocks * 512, 4096) << "the room beyond the end is free again";
}

TEST(TextFileTest, NoRoomIsPromisedBeyondTheFileSizeLimit) {
  TempFolder folder;
  FileSizeLimit limit(1000);
  TextFile file;
  ASSERT_TRUE(file.Create(folder.slash() + "log.txt").ok());
  ASSERT_TRUE(file.Write(std::string(900, 'x')).ok());
  EXPECT_EQ(file.Reserve(101).error, EFBIG);
  EXPECT_TRUE(file.Reserve(100).ok());
  EXPECT_TRUE(file.Close().ok());
}

}  // namespace
}  // namespace qor::platform
