// An undo under Windows walks down from the log's target folder without
// following a link or junction, and refuses an entry edited to another
// folder.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "cli/cli_run.h"
#include "platform/win32/wine.h"
#include "support/temp_tree.h"

namespace qor::testing {
namespace {

TEST(CliUndoWin32Test, ALinkOnTheWayDownAndAnEditedEntryMoveNothing) {
  TempFolder source, outer, here;
  const std::string target = outer.slash() + "target", elsewhere = outer.slash() + "elsewhere";
  WriteFile(source.slash() + "a.txt", "a", UtcSeconds(2020, 1, 2));
  WriteFile(source.slash() + "sub\\b.txt", "b", UtcSeconds(2020, 1, 2));
  WriteFile(elsewhere + "\\b.txt", "not moved", UtcSeconds(2020, 1, 2));
  WriteFile(elsewhere + "\\other.txt", "not moved", UtcSeconds(2020, 1, 2));
  std::filesystem::create_directory(FsPath(target));
  const std::string log = here.slash() + "run.txt";
  ASSERT_EQ(RunCli({"move", "-r", "-q", "--log", log, source.path(), target, "--on", "2020-01-02"},
                   here.path())
                .status,
            0);
  WriteFile(log, ReadFile(log) + "other.txt      MOVED to   " + elsewhere + "\\\r\n",
            UtcSeconds(2022, 1, 1));

  // Where no link to a folder can be made (wine), the rest still runs.
  std::filesystem::rename(FsPath(target + "\\sub"), FsPath(target + "\\old sub"));
  const std::wstring link = FsPath(target + "\\sub").wstring();
  const bool linked =
      ::CreateSymbolicLinkW(link.c_str(), FsPath(elsewhere).c_str(),
                            SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2 /* unprivileged */) &&
      (::GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
      ::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;

  const CliResult undone =
      RunCli({"undo", "--log", here.slash() + "undo.txt", log, source.path()}, here.path());
  EXPECT_EQ(undone.status, 1) << undone.err;
  EXPECT_NE(undone.err.find("refused, damaged entry: 3: other.txt"), std::string::npos)
      << undone.err;
  EXPECT_EQ(ReadFile(source.slash() + "a.txt"), "a");
  EXPECT_EQ(ReadFile(elsewhere + "\\other.txt"), "not moved");
  EXPECT_FALSE(Exists(source.slash() + "other.txt"));
  EXPECT_FALSE(Exists(source.slash() + "sub\\b.txt"));
  if (!linked) {
    GTEST_SKIP() << "no link to a folder showing a reparse point could be made here (wine "
                 << (WineVersion() ? WineVersion() : "none") << ")";
  }
  EXPECT_NE(undone.err.find("sub\\b.txt: a symbolic link in the target path"), std::string::npos)
      << undone.err;
  EXPECT_EQ(ReadFile(elsewhere + "\\b.txt"), "not moved");
}

}  // namespace
}  // namespace qor::testing
