// Names no one would choose: line breaks, blanks at the ends, bytes that are
// no UTF-8, the longest names allowed, links that go round in circles. Each
// is moved whole, and its run log entry stays on one line.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "trial_run.h"

namespace qor::testing {
namespace {

const std::vector<std::string>& OddNames() {
  static const std::vector<std::string> names = {
      "line\nbreak.txt",
      "carriage\rreturn.txt",
      "ends with CR LF\r\n",
      "\n",
      " leading blank",
      "trailing blank ",
      "   ",
      "\xff\xfe not UTF-8",
      "cut short \xc3",
      "\xc0\xaf overlong",
      "tab\tescape\x1b[31m and delete\x7f",
      "back\\slash *?<>|:\"",
      std::string(255, 'n'),
      std::string(254, 'u') + "\xe9",
  };
  return names;
}

const std::vector<std::string>& OddFolders() {
  static const std::vector<std::string> folders = {
      "folder\nwith a line break",
      " folder with blanks ",
      "\xfe\xff",
      std::string(255, 'F'),
  };
  return folders;
}

TEST(OddNamesTest, EveryOddNameMovesWholeAndItsLogEntryStaysOnOneLine) {
  for (const TargetPlace& place : TargetPlaces()) {
    SCOPED_TRACE(place.label);
    TrialRun run(place.parent);
    const int root = ::open(run.source().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(root, 0);
    long nanoseconds = 1;
    for (const std::string& name : OddNames()) {
      WriteFileAt(root, name, "bytes of " + name, TakenDate(), nanoseconds++);
    }
    for (const std::string& folder_name : OddFolders()) {
      const int folder = MakeFolderAt(root, folder_name);
      for (const std::string& name : {OddNames()[0], OddNames()[4], OddNames()[12]}) {
        WriteFileAt(folder, name, folder_name + "/" + name, TakenDate(), nanoseconds++);
      }
      ::close(folder);
    }
    // Links that lead in circles or back up the tree: moved as links, never
    // followed.
    const std::vector<std::pair<std::string, std::string>> links = {
        {"loop a", "loop b"}, {"loop b", "loop a"}, {"self", "self"}, {"up", ".."}, {"here", "."}};
    for (const auto& [name, target] : links) {
      ASSERT_EQ(::symlinkat(target.c_str(), root, name.c_str()), 0);
      const struct timespec times[2] = {{TakenDate(), 5}, {TakenDate(), 5}};
      ASSERT_EQ(::utimensat(root, name.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
    ::close(root);
    const TreeFacts before = RecordTree(run.source());
    ASSERT_EQ(before.size(), OddNames().size() + 3 * OddFolders().size() + links.size());
    HookedObserver observer;

    const std::string log = run.Walk(observer);

    EXPECT_EQ(run.end, WalkEnd::Finished);
    const TreeFacts after = RecordTree(run.target());
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [relative, facts] : before) {
      const auto moved = after.find(relative);
      ASSERT_NE(moved, after.end()) << "not at its place: " << LogText(relative);
      EXPECT_TRUE(moved->second.SameContentAndTime(facts)) << LogText(relative);
    }
    EXPECT_TRUE(RecordTree(run.source()).empty());

    std::vector<std::string> expected;
    for (const auto& [relative, facts] : before) expected.push_back(run.MovedLine(relative));
    const std::vector<std::string> lines = SortedLines(log);
    EXPECT_EQ(lines, Sorted(expected));
    for (const std::string& line : lines) {
      EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    }
    // How a line break in a name reads in the log.
    const std::string from_line_start = "\r\n" + log;
    EXPECT_NE(from_line_start.find("\r\nline\\x0Abreak.txt      MOVED to   "), std::string::npos);
    EXPECT_NE(from_line_start.find(
                  "\r\nfolder\\x0Awith a line break/line\\x0Abreak.txt      MOVED to   "),
              std::string::npos);
  }
}

TEST(OddNamesTest, TwoNamesNeverShareOneLogEntry) {
  // A name with a line break and one spelling out its escape would read the
  // same, and the log could not tell which file went where.
  TrialRun run;
  const std::vector<std::string> names = {"a\nb", "a\\x0Ab", "c\\d", "c\\x5Cd"};
  for (const std::string& name : names) WriteFile(run.source() + name, name, TakenDate());
  HookedObserver observer;

  const std::vector<std::string> lines = SortedLines(run.Walk(observer));

  ASSERT_EQ(lines.size(), names.size());
  EXPECT_EQ(std::adjacent_find(lines.begin(), lines.end()), lines.end()) << lines[0] << "\n"
                                                                         << lines[1] << "\n"
                                                                         << lines[2] << "\n"
                                                                         << lines[3];
}

// Creates `relative` below `root` folder by folder through descriptors, so
// that paths longer than the system allows in one piece can be made too.
void CreateAt(const std::string& root, const std::string& relative, const std::string& content) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::size_t start = 0;
  for (std::size_t slash; (slash = relative.find('/', start)) != std::string::npos;
       start = slash + 1) {
    const int next = MakeFolderAt(fd, relative.substr(start, slash - start));
    ::close(fd);
    fd = next;
  }
  WriteFileAt(fd, relative.substr(start), content, TakenDate(), 123);
  ::close(fd);
}

// A relative path of 200-byte folders named with `letter` and one file name
// such that `prefix` followed by it is exactly `length` bytes long.
std::string RelativeOfLength(const std::string& prefix, std::size_t length, char letter) {
  std::string relative;
  while (length - prefix.size() - relative.size() > 255) relative += std::string(200, letter) + "/";
  return relative + std::string(length - prefix.size() - relative.size(), letter);
}

TEST(OddNamesTest, PathsAtAndBeyondTheSystemLimitMoveWhole) {
  for (const TargetPlace& place : TargetPlaces()) {
    SCOPED_TRACE(place.label);
    TrialRun run(place.parent);
    // A target longer than the source, so that a path can fit at the source
    // and be too long at the target.
    run.params.TargetPath += std::string(60, 't') + "/";
    ASSERT_EQ(::mkdir(run.target().c_str(), 0755), 0);
    ASSERT_GT(run.target().size(), run.source().size());
    const std::size_t longest = PATH_MAX - 1;
    // Folders are reached one by one from their parents, so no path is ever
    // handed to the system whole.
    const std::string fits = RelativeOfLength(run.target(), longest, 'a');
    const std::string target_too_long = RelativeOfLength(run.source(), longest, 'b');
    const std::string source_too_long = RelativeOfLength(run.source(), longest + 300, 'c');
    for (const std::string* relative : {&fits, &target_too_long, &source_too_long}) {
      CreateAt(run.source(), *relative, "at " + relative->substr(0, 1));
    }
    const TreeFacts before = RecordTree(run.source());
    HookedObserver observer;

    const std::string log = run.Walk(observer);

    EXPECT_EQ(SortedLines(log), Sorted({run.MovedLine(fits), run.MovedLine(target_too_long),
                                        run.MovedLine(source_too_long)}));
    const TreeFacts target_now = RecordTree(run.target());
    for (const std::string* relative : {&fits, &target_too_long, &source_too_long}) {
      ASSERT_EQ(target_now.count(*relative), 1u) << "lost: " << relative->substr(0, 1);
      EXPECT_TRUE(target_now.at(*relative).SameContentAndTime(before.at(*relative)));
    }
    EXPECT_EQ(target_now.size(), 3u);
  }
}

}  // namespace
}  // namespace qor::testing
