// Names beyond ASCII on their way through the command line, the output and
// the run log (on Windows the arguments arrive as UTF-16).

#include <gtest/gtest.h>

#include <filesystem>

#include "cli/cli_run.h"
#include "support/temp_tree.h"

namespace qor::testing {

namespace {

constexpr char kSep = platform::kSeparator;

TEST(CliUnicodeTest, AUtf8NameRoundTripsThroughTheArgumentsTheOutputTheLogAndUndo) {
  TempFolder root;
  // Latin, Cyrillic, CJK and a character beyond the Basic Multilingual Plane
  // (a surrogate pair in UTF-16).
  const std::string source = root.slash() + "Quelle-\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC";
  const std::string target = root.slash() + "Ziel-\xC3\xB8-\xF0\x9F\x98\x80";
  const std::string name = "na\xC3\xAFve-\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB-\xF0\x9F\x98\x80.txt";
  const std::string log = root.slash() + "\xD0\xB6\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB.txt";
  WriteFile(source + kSep + name, "bytes", UtcSeconds(2021, 3, 4));
  std::filesystem::create_directory(FsPath(target));

  const CliResult moved =
      RunCli({"move", "-v", "--log", log, source, target, "--on", "2021-03-04"}, root.path());
  ASSERT_EQ(moved.status, 0) << moved.err;
  EXPECT_EQ(NamesIn(target), std::set<std::string>{name});
  EXPECT_NE(moved.out.find(name), std::string::npos) << moved.out;
  const std::string log_text = ReadFile(log);
  EXPECT_NE(log_text.find(name), std::string::npos) << log_text;
  EXPECT_NE(log_text.find(target), std::string::npos) << log_text;

  const CliResult undone = RunCli({"undo", "--log", log + "-undo", log, source}, root.path());
  ASSERT_EQ(undone.status, 0) << undone.err;
  EXPECT_EQ(ReadFile(source + kSep + name), "bytes");
  EXPECT_TRUE(NamesIn(target).empty());
}

}  // namespace

}  // namespace qor::testing
