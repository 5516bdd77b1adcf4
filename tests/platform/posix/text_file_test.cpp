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

// In a folder others can write into, anyone may have put something under
// the name first: only a file this user made, with no other name, is
// written into; nothing else is changed, and nothing blocks (a pipe held
// open by its planter and never read would hold the run for good).
TEST(TextFileTest, WritesOnlyIntoAFileOfThisUsersAndNeverBlocks) {
  TempFolder folder;
  const std::string victim = folder.slash() + "precious.txt";
  WriteFile(victim, "keep me", 0);
  int reader = -1;
  const struct {
    const char* name;
    std::function<void(const std::string&)> plant;
    bool taken;
  } cases[] = {
      {"new.txt", [](const std::string&) {}, true},
      {"own-empty.txt", [](const std::string& path) { WriteFile(path, "", 0); }, true},
      {"link.txt", [&](const std::string& path) { ::symlink(victim.c_str(), path.c_str()); },
       false},
      {"pipe.txt", [](const std::string& path) { ::mkfifo(path.c_str(), 0600); }, false},
      {"held-pipe.txt",
       [&](const std::string& path) {
         ::mkfifo(path.c_str(), 0600);
         reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
       },
       false},
      {"second-name.txt", [&](const std::string& path) { ::link(victim.c_str(), path.c_str()); },
       false},
      {"others.txt",
       [](const std::string& path) {
         WriteFile(path, "", 0);
         if (::geteuid() == 0) ::chown(path.c_str(), 1001, 1001);
       },
       ::geteuid() != 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = folder.slash() + c.name;
    c.plant(path);
    TextFile file;
    const Outcome created = file.Create(path, TextFile::IfNotEmpty::Refuse);
    EXPECT_EQ(created.error, c.taken ? 0 : kNotThisUsersFile);
    EXPECT_EQ(file.IsOpen(), c.taken);
    EXPECT_EQ(ReadFile(victim), "keep me");
  }
  if (reader >= 0) ::close(reader);
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
