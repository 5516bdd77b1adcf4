#include "checks/check_paths.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "checks/fake_window.h"
#include "platform/path_compare.h"

namespace qor {
namespace {

using testing::FakeWindow;
namespace fs = std::filesystem;

// A real folder tree:
//   in/ in/sub/ in/sub/deep/ inbox/ IN/ out/ file.txt
//   link_to_in -> in, link_to_sub -> in/sub
class CheckPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qor-checks-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    for (const char* folder : {"in", "in/sub", "in/sub/deep", "inbox", "out"}) {
      fs::create_directory(root_ + "/" + folder);
    }
    case_sensitive_ = ::mkdir((root_ + "/IN").c_str(), 0777) == 0;
    std::ofstream(root_ + "/file.txt") << "x";
    fs::create_directory_symlink(root_ + "/in", root_ + "/link_to_in");
    fs::create_directory_symlink("in/sub", root_ + "/link_to_sub");
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string P(const std::string& relative) const { return root_ + "/" + relative; }

  std::string root_;
  bool case_sensitive_ = true;
};

struct PathCase {
  std::string name;
  std::string source, target;  // relative to the tree unless they start with "/" or are empty
  bool accepted;
  std::string prompt;  // "@" stands for the path shown
  std::optional<std::string> title;
  std::vector<std::string> focus;
  std::string source_after, target_after;  // box texts afterwards, relative likewise
};

const std::optional<std::string> kNoTitle;
const std::vector<std::string> kNone;
const std::vector<std::string> kSourceFocus{"txtPath(0)"};
const std::vector<std::string> kTargetFocus{"txtPath(1)"};
const std::string kIdentical = "Source and Target are identical\r\n";

std::vector<PathCase> Cases() {
  return {
      {"EmptySource", "", "out", false, "No Source path given", "grrr", kSourceFocus, "", "out"},
      {"EmptyTargetAfterSourceNormalised", "in", "", false, "No Target path given", "grrr",
       kTargetFocus, "in/", ""},
      {"SourceIsAFile", "file.txt", "out", false, "Source path is no Directory/Folder\r\n@",
       kNoTitle, kSourceFocus, "file.txt", "out"},
      {"TargetMissing", "in", "nowhere", false, "Target path is no Directory/Folder\r\n@", kNoTitle,
       kTargetFocus, "in/", "nowhere"},
      {"TargetIsAFile", "in/", "file.txt", false, "Target path is no Directory/Folder\r\n@",
       kNoTitle, kTargetFocus, "in/", "file.txt"},
      {"SeparateFolders", "in", "out", true, "", kNoTitle, kNone, "in/", "out/"},
      {"AlreadyEndingWithSlash", "in/", "out/", true, "", kNoTitle, kNone, "in/", "out/"},
      {"SiblingNamedAlike", "in", "inbox", true, "", kNoTitle, kNone, "in/", "inbox/"},
      {"SiblingNamedAlikeAsSource", "inbox", "in", true, "", kNoTitle, kNone, "inbox/", "in/"},
      {"TargetIsParent", "in/sub", "in", true, "", kNoTitle, kNone, "in/sub/", "in/"},
      {"DifferOnlyInCase", "in", "IN", true, "", kNoTitle, kNone, "in/", "IN/"},
      {"SameFolder", "in", "in", false, kIdentical, "uups", kNone, "in/", "in/"},
      {"TrailingSlashOnly", "in", "in/", false, kIdentical, "uups", kNone, "in/", "in/"},
      {"DoubledSlash", "in//", "in", false, kIdentical, "uups", kNone, "in//", "in/"},
      {"DotComponent", "in", "in/.", false, kIdentical, "uups", kNone, "in/", "in/./"},
      {"DotDotComponent", "in", "in/sub/..", false, kIdentical, "uups", kNone, "in/", "in/sub/../"},
      {"LinkToSource", "in", "link_to_in", false, kIdentical, "uups", kNone, "in/", "link_to_in/"},
      {"TargetInside", "in", "in/sub", false, "zyclic copy", "Arrgh", kNone, "in/", "in/sub/"},
      {"TargetDeeperInside", "in/", "in/sub/deep/", false, "zyclic copy", "Arrgh", kNone, "in/",
       "in/sub/deep/"},
      {"InsideThroughLink", "in", "link_to_sub", false, "zyclic copy", "Arrgh", kNone, "in/",
       "link_to_sub/"},
      {"InsideThroughDotDot", "in", "out/../in/sub", false, "zyclic copy", "Arrgh", kNone, "in/",
       "out/../in/sub/"},
      {"SourceIsALink", "link_to_in", "in/sub/deep", false, "zyclic copy", "Arrgh", kNone,
       "link_to_in/", "in/sub/deep/"},
      {"RootAsSource", "/", "in", false, "zyclic copy", "Arrgh", kNone, "/", "in/"},
      {"RootAsBoth", "/", "/", false, kIdentical, "uups", kNone, "/", "/"},
      {"RootAsTarget", "in", "/", true, "", kNoTitle, kNone, "in/", "/"},
  };
}

TEST_F(CheckPathsTest, RefusesOrAcceptsWithTheRightMessageFocusAndBoxes) {
  const auto place = [&](const std::string& text) {
    return text.empty() || text.front() == '/' ? text : P(text);
  };
  for (const PathCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    if (c.name == "DifferOnlyInCase" && !case_sensitive_) continue;
    FakeWindow window;
    window.paths[0] = place(c.source);
    window.paths[1] = place(c.target);
    // The refused box is the first one not yet normalised.
    const std::string shown_path = c.focus == kSourceFocus ? window.paths[0] : window.paths[1];

    EXPECT_EQ(CheckPaths(window, window), c.accepted);

    if (c.accepted) {
      EXPECT_TRUE(window.shown.empty());
    } else {
      ASSERT_EQ(window.shown.size(), 1u);
      std::string prompt = c.prompt;
      if (const auto at = prompt.find('@'); at != std::string::npos) {
        prompt.replace(at, 1, shown_path);
      }
      EXPECT_EQ(window.shown[0].prompt, prompt);
      EXPECT_EQ(window.shown[0].title, c.title);
      EXPECT_EQ(window.shown[0].buttons, MessageButtons::Ok);
    }
    EXPECT_EQ(window.focus_moves, c.focus);
    EXPECT_EQ(window.paths[0], place(c.source_after));
    EXPECT_EQ(window.paths[1], place(c.target_after));
  }
}

TEST_F(CheckPathsTest, RunningAgainOnNormalisedBoxesChangesNothing) {
  FakeWindow window;
  window.paths[0] = P("in");
  window.paths[1] = P("out");
  ASSERT_TRUE(CheckPaths(window, window));
  ASSERT_TRUE(CheckPaths(window, window));
  EXPECT_EQ(window.paths[0], P("in/"));
  EXPECT_EQ(window.paths[1], P("out/"));
  EXPECT_TRUE(window.shown.empty());
}

TEST_F(CheckPathsTest, RelativePathsAreResolvedAgainstTheCurrentFolder) {
  char previous[PATH_MAX];
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(::chdir(P("in").c_str()), 0);
  FakeWindow window;
  window.paths[0] = ".";
  window.paths[1] = "sub";
  const bool accepted = CheckPaths(window, window);
  ASSERT_EQ(::chdir(previous), 0);

  EXPECT_FALSE(accepted);
  ASSERT_EQ(window.shown.size(), 1u);
  EXPECT_EQ(window.shown[0].prompt, "zyclic copy");
  EXPECT_EQ(window.paths[0], "./");
  EXPECT_EQ(window.paths[1], "sub/");
}

// A relative text the system still finds but whose absolute form is longer
// than a path may be.
TEST_F(CheckPathsTest, PathTooLongWhenMadeAbsoluteContainsErrors) {
  char previous[PATH_MAX];
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(::chdir(P("in").c_str()), 0);
  std::string text = ".";
  while (text.size() + 2 < PATH_MAX - 2) text += "/.";
  FakeWindow window;
  window.paths[0] = text;
  window.paths[1] = P("out");
  const bool accepted = CheckPaths(window, window);
  ASSERT_EQ(::chdir(previous), 0);

  EXPECT_FALSE(accepted);
  ASSERT_EQ(window.shown.size(), 1u);
  EXPECT_EQ(window.shown[0].prompt, "Source path contains errors\r\n" + text);
  EXPECT_EQ(window.shown[0].title, std::optional<std::string>("uups   "));
  EXPECT_EQ(window.focus_moves, kSourceFocus);
  EXPECT_EQ(window.paths[0], text);
}

TEST_F(CheckPathsTest, SameObjectFollowsLinksAndTellsFoldersApart) {
  EXPECT_TRUE(platform::IsSameObject(P("in"), P("link_to_in/")));
  EXPECT_TRUE(platform::IsSameObject(P("in/sub"), P("link_to_sub")));
  EXPECT_FALSE(platform::IsSameObject(P("in"), P("inbox")));
  EXPECT_FALSE(platform::IsSameObject(P("in"), P("missing")));
}

}  // namespace
}  // namespace qor
