#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/file_systems.h"
#include "support/mounted_folder.h"
#include "support/temp_tree.h"

namespace qor::platform {
namespace {

using qor::testing::BuildParent;
using qor::testing::Exists;
using qor::testing::MountedFolder;
using qor::testing::NamesIn;
using qor::testing::ReadFile;
using qor::testing::SameFileSystem;
using qor::testing::TempFolder;
using qor::testing::UtcSeconds;
using qor::testing::WriteFile;

// A pair of folders, either on one file system or on two.
struct FolderPair {
  std::string label;
  std::string source_parent;
  std::string target_parent;
};

std::vector<FolderPair> Pairs() {
  return {{"same file system", BuildParent(), BuildParent()},
          {"across file systems", BuildParent(), "/dev/shm"}};
}

TEST(MoveFileNoReplaceTest, NeverReplacesAnExistingDestination) {
  for (const FolderPair& pair : Pairs()) {
    SCOPED_TRACE(pair.label);
    TempFolder from(pair.source_parent), to(pair.target_parent);
    WriteFile(from.slash() + "f", "incoming", UtcSeconds(2020, 1, 1));
    WriteFile(to.slash() + "f", "already here", UtcSeconds(2019, 1, 1));

    const Outcome moved = MoveFileNoReplace(from.slash() + "f", to.slash() + "f");

    EXPECT_EQ(moved.error, EEXIST);
    EXPECT_EQ(ReadFile(to.slash() + "f"), "already here");
    EXPECT_EQ(ReadFile(from.slash() + "f"), "incoming");
    EXPECT_EQ(NamesIn(to.path()).size(), 1u) << "no temporary left behind";
  }
}

TEST(MoveFileNoReplaceTest, FinishesAMoveLeftUnderBothNamesByAPowerCut) {
  TempFolder from, to;
  WriteFile(from.slash() + "f", "one file", UtcSeconds(2020, 1, 1));
  ASSERT_EQ(::link((from.slash() + "f").c_str(), (to.slash() + "f").c_str()), 0);

  EXPECT_TRUE(MoveFileNoReplace(from.slash() + "f", to.slash() + "f").ok());
  EXPECT_FALSE(Exists(from.slash() + "f"));
  EXPECT_EQ(ReadFile(to.slash() + "f"), "one file");
}

void ExpectMoveKeepsBytesPermissionBitsAndLastWriteTime(const FolderPair& pair) {
  TempFolder from(pair.source_parent), to(pair.target_parent);
  std::string content(300000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + 3);
  const std::string source = from.slash() + "data.bin";
  WriteFile(source, content, 0);
  ASSERT_EQ(::chmod(source.c_str(), 0640 | S_ISGID), 0);
  testing::SetModified(source, UtcSeconds(2018, 4, 5, 6, 7), 123456789);

  const Outcome moved = MoveFileNoReplace(source, to.slash() + "data.bin");

  ASSERT_TRUE(moved.ok()) << ErrorText(moved.error);
  EXPECT_FALSE(Exists(source));
  EXPECT_EQ(ReadFile(to.slash() + "data.bin"), content);
  struct stat st;
  ASSERT_EQ(::stat((to.slash() + "data.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(0640 | S_ISGID));
  EXPECT_EQ(st.st_mtim.tv_sec, UtcSeconds(2018, 4, 5, 6, 7));
  EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
  EXPECT_EQ(NamesIn(to.path()), std::set<std::string>{"data.bin"});
}

TEST(MoveFileNoReplaceTest, KeepsBytesPermissionBitsAndLastWriteTimeOnOneFileSystem) {
  ExpectMoveKeepsBytesPermissionBitsAndLastWriteTime(Pairs()[0]);
}

TEST(MoveFileNoReplaceTest, KeepsBytesPermissionBitsAndLastWriteTimeAcrossFileSystems) {
  const FolderPair across = Pairs()[1];
  if (SameFileSystem(across.source_parent, across.target_parent)) {
    GTEST_SKIP() << "/dev/shm and the build folder share a file system here";
  }
  ExpectMoveKeepsBytesPermissionBitsAndLastWriteTime(across);
}

TEST(MoveFileNoReplaceTest, MovesASymbolicLinkAsALink) {
  for (const FolderPair& pair : Pairs()) {
    SCOPED_TRACE(pair.label);
    TempFolder from(pair.source_parent), to(pair.target_parent);
    ASSERT_EQ(::symlink("../somewhere/else", (from.slash() + "link").c_str()), 0);

    ASSERT_TRUE(MoveFileNoReplace(from.slash() + "link", to.slash() + "link").ok());

    char target[64] = {};
    ASSERT_GT(::readlink((to.slash() + "link").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "../somewhere/else");
    EXPECT_FALSE(Exists(from.slash() + "link"));
  }
}

TEST(MoveFileNoReplaceTest, AMissingSourceOrDestinationFolderFailsAndChangesNothing) {
  TempFolder from, to;
  EXPECT_EQ(MoveFileNoReplace(from.slash() + "nothing", to.slash() + "x").error, ENOENT);
  WriteFile(from.slash() + "f", "f", 0);
  EXPECT_EQ(MoveFileNoReplace(from.slash() + "f", to.slash() + "no/such/x").error, ENOENT);
  EXPECT_EQ(ReadFile(from.slash() + "f"), "f");
}

TEST(MoveFileNoReplaceTest, AFailedCopyLeavesTheSourceWholeAndNoTemporary) {
  MountedFolder small("tmpfs", "size=256k");
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (not root?)";
  TempFolder from(BuildParent());
  const std::string content(1 << 20, 'q');  // four times what the target holds
  WriteFile(from.slash() + "big", content, UtcSeconds(2020, 2, 2));

  const Outcome moved = MoveFileNoReplace(from.slash() + "big", small.slash() + "big");

  EXPECT_EQ(moved.error, ENOSPC);
  EXPECT_EQ(ReadFile(from.slash() + "big"), content);
  EXPECT_TRUE(NamesIn(small.slash()).empty()) << "temporary left behind";
}

TEST(FolderOperationsTest, MakeSureFolderPathExistsIsEmptyAndRemove) {
  TempFolder root;
  const std::string deep = root.slash() + "a/b/c/";
  EXPECT_TRUE(MakeSureFolderPathExists(deep).ok());
  EXPECT_TRUE(IsDirectory(deep));
  EXPECT_TRUE(MakeSureFolderPathExists(deep).ok()) << "an existing path is fine";
  EXPECT_TRUE(IsFolderEmpty(deep));
  WriteFile(deep + "file", "x", 0);
  EXPECT_FALSE(IsFolderEmpty(deep));
  EXPECT_EQ(MakeSureFolderPathExists(deep + "file/sub/").error, ENOTDIR);
  EXPECT_FALSE(RemoveFolder(deep).ok());
  EXPECT_FALSE(IsFolderEmpty(root.slash() + "missing/"));
  ::unlink((deep + "file").c_str());
  EXPECT_TRUE(RemoveFolder(deep).ok());
  EXPECT_FALSE(Exists(deep));
}

TEST(FolderListingTest, DeliversDotEntriesFolderBitsUtcDatesAndSizes) {
  TempFolder root;
  WriteFile(root.slash() + "file", "12345", UtcSeconds(2021, 12, 31, 23, 59));
  ::mkdir((root.slash() + "sub").c_str(), 0777);
  ::symlink("sub", (root.slash() + "to-sub").c_str());

  FolderListing listing(root.slash());
  ASSERT_TRUE(listing.IsOpen());
  FolderEntry entry;
  int seen = 0;
  while (listing.Next(entry)) {
    ++seen;
    if (entry.name == "file") {
      EXPECT_FALSE(entry.is_folder);
      EXPECT_EQ(entry.size, 5u);
      EXPECT_EQ(entry.year, 2021);
      EXPECT_EQ(entry.month, 12);
      EXPECT_EQ(entry.day, 31);
    } else if (entry.name == "sub" || entry.name == "." || entry.name == "..") {
      EXPECT_TRUE(entry.is_folder) << entry.name;
    } else {
      EXPECT_EQ(entry.name, "to-sub");
      EXPECT_FALSE(entry.is_folder) << "a link to a folder is not followed";
    }
  }
  EXPECT_EQ(seen, 5);

  FolderListing missing(root.slash() + "nope/");
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(missing.OpenError(), ENOENT);
  EXPECT_FALSE(missing.Next(entry));
}

TEST(PathTestsTest, WellFormedPathsFitTheSystemLimits) {
  EXPECT_TRUE(IsWellFormedPath("/tmp"));
  EXPECT_TRUE(IsWellFormedPath("relative/path"));
  EXPECT_FALSE(IsWellFormedPath(""));
  EXPECT_FALSE(IsWellFormedPath("/" + std::string(256, 'n')));
  EXPECT_TRUE(IsWellFormedPath("/" + std::string(255, 'n')));
  std::string long_path;
  while (long_path.size() < 5000) long_path += "/abcdefgh";
  EXPECT_FALSE(IsWellFormedPath(long_path));
}

}  // namespace
}  // namespace qor::platform

namespace qor::platform {
namespace {

TEST(MoveFileNoReplaceTest, RefusesToMoveAFolder) {
  TempFolder from, to;
  WriteFile(from.slash() + "folder/inside.txt", "in", 0);
  EXPECT_EQ(MoveFileNoReplace(from.slash() + "folder", to.slash() + "folder").error, EISDIR);
  EXPECT_EQ(ReadFile(from.slash() + "folder/inside.txt"), "in");
  EXPECT_FALSE(Exists(to.slash() + "folder"));
}

}  // namespace
}  // namespace qor::platform

namespace qor::platform {
namespace {

TEST(MoveEntryNoReplaceTest, MovesFromTheListedFolderEvenIfItsNameNowLeadsElsewhere) {
  TempFolder root, to;
  WriteFile(root.slash() + "sub/f.txt", "listed", 0);
  WriteFile(root.slash() + "decoy/f.txt", "not listed", 0);
  FolderListing listing(root.slash() + "sub/");
  ASSERT_TRUE(listing.IsOpen());
  // Another program swaps the folder for a link once the listing is open.
  ASSERT_EQ(::rename((root.slash() + "sub").c_str(), (root.slash() + "gone").c_str()), 0);
  ASSERT_EQ(::symlink((root.slash() + "decoy").c_str(), (root.slash() + "sub").c_str()), 0);

  ASSERT_TRUE(MoveEntryNoReplace(listing, "f.txt", to.slash() + "f.txt").ok());

  EXPECT_EQ(ReadFile(to.slash() + "f.txt"), "listed");
  EXPECT_EQ(ReadFile(root.slash() + "decoy/f.txt"), "not listed");
  EXPECT_FALSE(Exists(root.slash() + "gone/f.txt"));
}

}  // namespace
}  // namespace qor::platform
