#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/files.h"
#include "platform/path_compare.h"
#include "platform/win32/wine.h"
#include "support/temp_tree.h"

namespace qor::platform {
namespace {

using testing::NamesIn;
using testing::ReadFile;
using testing::TempFolder;
using testing::UtcSeconds;
using testing::WriteFile;

// The Q: drive lies on another file system than C: (the test script links it
// to a tmpfs folder).
bool HasOtherDrive() {
  return ::GetDriveTypeW(L"Q:\\") != DRIVE_NO_ROOT_DIR;
}

struct FileFacts {
  std::uint64_t write_time;
  DWORD attributes;
};

FileFacts FactsOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  EXPECT_TRUE(::GetFileAttributesExW(testing::FsPath(path).c_str(), GetFileExInfoStandard, &data));
  return {(static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
              data.ftLastWriteTime.dwLowDateTime,
          data.dwFileAttributes};
}

TEST(MoveWin32Test, AcrossDrivesKeepsBytesLastWriteTimeAndAttributes) {
  if (!HasOtherDrive()) GTEST_SKIP() << "no Q: drive on a second volume";
  TempFolder from, to("Q:");
  std::string content(300000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + 3);
  const std::string source = from.slash() + "data.bin";
  WriteFile(source, content, 0);
  testing::SetModified(source, UtcSeconds(2018, 4, 5, 6, 7), 123456700);
  ASSERT_TRUE(::SetFileAttributesW(testing::FsPath(source).c_str(),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  const FileFacts before = FactsOf(source);

  const Outcome moved = MoveFileNoReplace(source, to.slash() + "data.bin");

  ASSERT_TRUE(moved.ok()) << ErrorText(moved.error);
  EXPECT_FALSE(testing::Exists(source));
  EXPECT_EQ(ReadFile(to.slash() + "data.bin"), content);
  const FileFacts after = FactsOf(to.slash() + "data.bin");
  EXPECT_EQ(after.write_time, before.write_time);
  EXPECT_EQ(NamesIn(to.path()), std::set<std::string>{"data.bin"}) << "no temporary left";
  ::SetFileAttributesW(testing::FsPath(to.slash() + "data.bin").c_str(), FILE_ATTRIBUTE_NORMAL);
  if (testing::WineVersion() != nullptr &&
      after.attributes == (before.attributes | FILE_ATTRIBUTE_HIDDEN)) {
    GTEST_SKIP() << "wine " << testing::WineVersion()
                 << " keeps the hidden mark it gives every name beginning with \".\" (the "
                    "copy's temporary name); bytes and time were checked";
  }
  EXPECT_EQ(after.attributes, before.attributes);
}

TEST(MoveWin32Test, OntoAFatDriveAFileMovesThoughFatRoundsItsTime) {
  // FAT keeps a last write to 2 seconds: the copy's time is the source's
  // rounded, and that is no change of the file. (The time itself is checked
  // on Q:; the FAT driver in user space used here stamps it anew on close.)
  if (::GetDriveTypeW(L"F:\\") == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no FAT drive F:";
  TempFolder from, to("F:");
  const struct {
    const char* name;
    std::int64_t second;
    long nanoseconds;
  } cases[] = {{"odd.txt", 1, 123456700}, {"even.txt", 2, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = from.slash() + c.name;
    WriteFile(source, c.name, 0);
    testing::SetModified(source, UtcSeconds(2021, 6, 15, 10, 0) + c.second, c.nanoseconds);

    const Outcome moved = MoveFileNoReplace(source, to.slash() + c.name);

    EXPECT_TRUE(moved.ok()) << ErrorText(moved.error);
    EXPECT_FALSE(testing::Exists(source));
    EXPECT_EQ(ReadFile(to.slash() + c.name), c.name);
  }
  EXPECT_EQ(NamesIn(to.path()), (std::set<std::string>{"even.txt", "odd.txt"}));
}

TEST(MoveWin32Test, ATakenNameFailsAndKeepsBothWhateverItsLetterCase) {
  const struct {
    const char* label;
    const char* target_parent;
    const char* taken;
  } cases[] = {{"one drive", "", "f.txt"},
               {"one drive, case differs", "", "F.TXT"},
               {"across drives", "Q:", "f.txt"},
               {"across drives, case differs", "Q:", "F.Txt"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    if (*c.target_parent != '\0' && !HasOtherDrive()) continue;
    TempFolder from, to(*c.target_parent != '\0' ? c.target_parent : TempFolder::DefaultParent());
    WriteFile(from.slash() + "f.txt", "incoming", UtcSeconds(2020, 1, 1));
    WriteFile(to.slash() + c.taken, "already here", UtcSeconds(2019, 1, 1));

    const Outcome moved = MoveFileNoReplace(from.slash() + "f.txt", to.slash() + "f.txt");

    EXPECT_EQ(moved.error, ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ReadFile(to.slash() + c.taken), "already here");
    EXPECT_EQ(ReadFile(from.slash() + "f.txt"), "incoming");
    EXPECT_EQ(NamesIn(to.path()), std::set<std::string>{c.taken}) << "no temporary left";
  }
}

TEST(MoveWin32Test, PathsLongerThan260CharactersAreListedAndMoved) {
  TempFolder root;
  std::string deep = root.path();
  while (deep.size() < 400) deep += "\\" + std::string(60, 'd');
  ASSERT_TRUE(MakeSureFolderPathExists(deep + "\\").ok());
  ASSERT_TRUE(IsDirectory(deep));
  const std::string target = deep + "\\" + std::string(100, 't') + "\\";
  ASSERT_TRUE(MakeSureFolderPathExists(target).ok());
  WriteFile(root.slash() + "f.txt", "long way", UtcSeconds(2021, 6, 15));

  ASSERT_TRUE(MoveFileNoReplace(root.slash() + "f.txt", target + "f.txt").ok());

  FolderListing listing(target);
  ASSERT_TRUE(listing.IsOpen()) << ErrorText(listing.OpenError());
  FolderEntry entry;
  std::set<std::string> names;
  while (listing.Next(entry)) {
    names.insert(entry.name);
    if (entry.name == "f.txt") {
      EXPECT_TRUE(entry.has_details);
      EXPECT_EQ(entry.year * 10000 + entry.month * 100 + entry.day, 20210615);
      EXPECT_EQ(entry.size, 8u);
    }
  }
  EXPECT_EQ(names, (std::set<std::string>{".", "..", "f.txt"}));
  EXPECT_TRUE(IsWellFormedPath(target));
}

TEST(FolderRelationWin32Test, LetterCaseDoesNotCountAndASiblingIsApart) {
  const struct {
    const char* target;
    const char* source;
    FolderRelation expected;
  } cases[] = {
      {R"(C:\DATA\IN)", R"(c:\data\in)", FolderRelation::Same},
      {R"(C:\Data\In\Sub)", R"(c:\data\in)", FolderRelation::Inside},
      {R"(\\server\share\in\x)", R"(\\SERVER\Share\In)", FolderRelation::Inside},
      {R"(C:\data\inbox)", R"(C:\data\in)", FolderRelation::Apart},
      {R"(D:\data\in)", R"(C:\data\in)", FolderRelation::Apart},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.target) + " against " + c.source);
    EXPECT_EQ(RelateFolders(c.target, c.source), c.expected);
  }
}

TEST(FolderRelationWin32Test, AUncTargetIsClimbedUpToItsShareAndNoFurther) {
  // Above "\\server\share\" lies no folder of the target; a climb on to "\"
  // would reach the root of the current drive.
  const std::string drive_root = RealPath("\\");
  ASSERT_FALSE(drive_root.empty());
  EXPECT_EQ(RelateFolders(R"(\\localhost\no-such-share\in)", drive_root), FolderRelation::Apart)
      << drive_root;
  // The share itself is still a parent, whatever name the source has.
  const std::string share = RealPath(R"(\\localhost\qor-unc-a)");
  if (share.empty()) {
    GTEST_SKIP() << "no share \\\\localhost\\qor-unc-a here (scripts/test_windows.sh makes one)";
  }
  EXPECT_EQ(RelateFolders(R"(\\localhost\qor-unc-a\in)", share), FolderRelation::Inside) << share;
}

TEST(FolderRelationWin32Test, ASubstDriveCannotHideATargetInsideTheSource) {
  TempFolder root;
  ASSERT_TRUE(MakeSureFolderPathExists(root.slash() + "in\\sub\\").ok());
  const std::wstring source = testing::FsPath(root.slash() + "in").wstring();
  // A free drive letter for the subst drive.
  wchar_t drive[] = L"S:";
  while (drive[0] < L'Z' &&
         ::GetDriveTypeW((std::wstring(drive) + L"\\").c_str()) != DRIVE_NO_ROOT_DIR) {
    ++drive[0];
  }
  if (!::DefineDosDeviceW(0, drive, source.c_str())) {
    GTEST_SKIP() << "no subst drive could be defined: error " << ::GetLastError();
  }
  const std::string through_subst = std::string(1, static_cast<char>(drive[0])) + ":\\sub";
  const std::string real_target = RealPath(through_subst);
  const std::string real_source = RealPath(root.slash() + "in");
  ::DefineDosDeviceW(DDD_REMOVE_DEFINITION, drive, source.c_str());

  if (real_target.empty() && testing::WineVersion() != nullptr) {
    GTEST_SKIP() << "wine " << testing::WineVersion()
                 << " defines the drive, but a path through it leads nowhere";
  }
  ASSERT_FALSE(real_target.empty());
  EXPECT_EQ(RelateFolders(real_target, real_source), FolderRelation::Inside)
      << real_target << " against " << real_source;
}

}  // namespace
}  // namespace qor::platform
