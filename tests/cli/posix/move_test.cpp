// qor-cli move through the real binary: preview, relative dates, refusals,
// exit statuses and interruption.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <future>
#include <thread>

#include "cli_runner.h"
#include "run/log_format.h"
#include "support/file_systems.h"

namespace qor::testing {
namespace {

// A source with files on both sides of 15 June 2021, one of them (2020-12-20)
// taken only by a whole-date "before", and a target where one name is taken.
struct MoveTree {
  MoveTree() {
    WriteFile(source.slash() + "old.txt", "old", UtcSeconds(2020, 12, 20));
    WriteFile(source.slash() + "sub/deep/a.txt", "a", UtcSeconds(2021, 6, 14, 23, 59));
    WriteFile(source.slash() + "sub/line\nbreak", "b", UtcSeconds(2019, 1, 1));
    WriteFile(source.slash() + "taken.txt", "mine", UtcSeconds(2021, 1, 1));
    WriteFile(source.slash() + "new.txt", "new", UtcSeconds(2021, 6, 15, 0, 1));
    WriteFile(target.slash() + "20210615/taken.txt", "theirs", UtcSeconds(2000, 1, 1));
  }
  TempFolder source, target, cwd;
};

std::vector<std::string> WithPrefix(const std::vector<std::string>& lines,
                                    const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.starts_with(prefix)) found.push_back(line.substr(prefix.size()));
  }
  return found;
}

TEST(CliMoveTest, PreviewListsExactlyWhatTheRunThenMovesAndChangesNothing) {
  MoveTree tree;
  const std::vector<std::string> args = {"move",         tree.source.path(), tree.target.path(),
                                         "--before",     "2021-06-15",       "-r",
                                         "--date-folder"};
  const TreeFacts source_before = RecordTree(tree.source.path());
  const TreeFacts target_before = RecordTree(tree.target.path());

  std::vector<std::string> preview_args = args;
  preview_args.push_back("--dry-run");
  const CliResult preview = RunCli(preview_args, tree.cwd.path());
  EXPECT_EQ(preview.status, 1) << preview.err;  // one name is taken
  EXPECT_TRUE(SameTree(RecordTree(tree.source.path()), source_before));
  EXPECT_TRUE(SameTree(RecordTree(tree.target.path()), target_before));
  EXPECT_FALSE(Exists(tree.target.slash() + "20210615/sub")) << "a preview made a folder";
  EXPECT_TRUE(NamesIn(tree.cwd.path()).empty()) << "a preview wrote a log";

  const CliResult run = RunCli(args, tree.cwd.path());
  EXPECT_EQ(run.status, 1) << run.err;
  const LogLines log = SplitLog(ReadFile(tree.cwd.slash() + "FileFind20210615.txt"));
  EXPECT_TRUE(log.partial.empty());
  const std::string moved_to = std::string(kMovedTo) + tree.target.slash() + "20210615/";
  std::vector<std::string> moved, failed;
  for (const std::string& line : log.lines) {
    if (line.ends_with(moved_to)) {
      moved.push_back(line.substr(0, line.size() - moved_to.size()));
    } else {
      failed.push_back(line.substr(0, line.find(kNotMoved)));
    }
  }
  // Walk order is the listing's, the same for both runs; each preview line
  // says where its file goes, after a line that says what is taken.
  std::vector<std::string> previewed;
  for (const std::string& name : moved) {
    previewed.push_back(name + " -> " + tree.target.slash() + "20210615/" +
                        name.substr(0, name.rfind('/') + 1));
  }
  EXPECT_EQ(WithPrefix(Lines(preview.out), "would move: "), previewed);
  EXPECT_EQ(Lines(preview.out).at(0), "files last written before 2021-06-15, from " +
                                          tree.source.slash() + " to " + tree.target.slash() +
                                          "20210615/:");
  EXPECT_EQ(failed, std::vector<std::string>{"taken.txt"});
  EXPECT_EQ(WithPrefix(Lines(preview.out), "would fail: "),
            std::vector<std::string>{"taken.txt: File exists"});
  EXPECT_EQ(std::set<std::string>(moved.begin(), moved.end()),
            (std::set<std::string>{"old.txt", "sub/deep/a.txt", "sub/line\\x0Abreak"}));
  EXPECT_EQ(ReadFile(tree.target.slash() + "20210615/taken.txt"), "theirs");
  EXPECT_TRUE(Exists(tree.source.slash() + "new.txt"));
}

TEST(CliMoveTest, ARefusedStartSaysWhyInOneLineExitsTwoAndMovesNothing) {
  MoveTree tree;
  std::filesystem::create_directory_symlink(tree.source.slash() + "sub",
                                            tree.target.slash() + "20210620");
  WriteFile(tree.cwd.slash() + "notes.txt", "my notes\r\n", UtcSeconds(2020, 1, 1));
  const std::string src = tree.source.path(), tgt = tree.target.path();
  struct Case {
    std::vector<std::string> args;
    std::string says;  // in the one line on stderr
  };
  const std::vector<Case> cases = {
      {{"move", src + "/missing", tgt, "--on", "2021-01-01"}, "source folder not found: "},
      {{"move", src, tgt + "/missing", "--on", "2021-01-01"}, "target folder not found: "},
      {{"move", src, src + "/", "--on", "2021-01-01"}, "are the same folder"},
      {{"move", src, src + "/sub", "--on", "2021-01-01"}, "TARGET lies inside SOURCE"},
      {{"move", src, tgt, "--on", "2021-04-31"}, "2021-04-31 is not a date"},
      {{"move", src, tgt, "--on", "2021-02-29"}, "2021-02-29 is not a date"},
      {{"move", src, tgt, "--on", "1989-12-31"}, "lies before 1990-01-01"},
      {{"move", src, tgt, "--on", "2999-01-01"}, "2999-01-01 lies in the future"},
      {{"move", src, tgt, "--on", "15.6.2021"}, "'15.6.2021' is not a date; write YYYY-MM-DD"},
      {{"move", src, tgt, "--older-than", "-3"}, "'-3' is not a whole number of days"},
      {{"move", src, tgt, "--older-than", "99999"}, "--older-than: at most "},
      {{"move", src, tgt, "--on", "2021-01-01", "--jobs", "0"}, "--jobs takes a whole number"},
      {{"move", src, tgt, "--on", "2021-01-01", "--jobs=65"}, "from 1 to 64"},
      {{"move", src, tgt, "--on", "2021-01-01", "--jobs", "-1"}, "--jobs takes a whole number"},
      {{"move", src, tgt, "--newer-than", "9999999999999"}, "--newer-than: at most "},
      {{"move", src, tgt, "--older-than", "36h"}, "'36h' is not a whole number of days"},
      {{"move", src, tgt, "--newer-than", "9999999w"}, "--newer-than: at most "},
      {{"move", src, tgt, "--on", "2021-01-01", "--min-size", "2x"}, "'2x' is not a size"},
      {{"move", src, tgt, "--on", "2021-01-01", "--max-size", "99999999T"}, "is not a size"},
      {{"move", src, tgt, "--on", "2021-01-01", "--min-size", "2k", "--max-size", "1k"},
       "--min-size is larger than --max-size"},
      {{"move", src, tgt, "--on", "2021-01-01", "--max-depth", "-1"}, "not a whole number of"},
      {{"move", src, tgt, "--on", "2021-01-01", "--log", tgt + "/no/such/folder/log.txt"},
       "the log cannot be created: "},
      {{"move", src, tgt, "--on", "2021-01-01", "--log", "notes.txt"},
       "holds something other than a run log"},
      {{"move", src, tgt, "--on", "2021-01-01", "--log", src + "/sub/log.txt"},
       "lies inside SOURCE"},
      {{"move", src, tgt, "--on", "2021-06-20", "--date-folder"}, "leads into SOURCE"},
      {{"move", src, tgt, "--on", "2021-01-01", "--before", "2021-01-01"}, "give only one of"},
      {{"move", src, tgt, "--newer-than", "0"}, "--newer-than 0 can never match"},
      {{"move", src, tgt}, "say which files"},
      {{"move", src, "--on", "2021-01-01"}, "missing TARGET"},
      {{"move", src, tgt, "extra", "--on", "2021-01-01"}, "unexpected argument 'extra'"},
      {{"move", src, tgt, "--on", "2021-01-01", "--frobnicate"}, "unknown option"},
      {{"move", src, tgt, "--on", "2021-01-01", "-r", "--exclude", "*.[ch"},
       "--exclude: the pattern '*.[ch' has a [ without its ]"},
      {{"undo", "log.txt", src, "-r"}, "belongs to move"},
      {{"copy", src, tgt}, "unknown command"},
  };
  const TreeFacts before = RecordTree(src);
  const std::set<std::string> cwd_before = {"notes.txt"};
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += arg + " ";
    SCOPED_TRACE(shown);
    const CliResult run = RunCli(c.args, tree.cwd.path());
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_TRUE(run.err.starts_with("qor-cli: ")) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_TRUE(SameTree(RecordTree(src), before));
    EXPECT_EQ(NamesIn(tree.cwd.path()), cwd_before);
    EXPECT_EQ(ReadFile(tree.cwd.slash() + "notes.txt"), "my notes\r\n");

    // With --json, stdout carries the refusal as one object.
    std::vector<std::string> json_args = c.args;
    json_args.push_back("--json");
    const CliResult json = RunCli(json_args, tree.cwd.path());
    EXPECT_EQ(json.status, 2);
    EXPECT_NE(json.out.find("\"refused\":true"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"exit_status\":2}"), std::string::npos) << json.out;
    EXPECT_EQ(Lines(json.out).size(), 1u) << json.out;
  }
}

// Every run and every undo keeps the records of the ones before: the undo of
// the first run needs its log though a second ran with the same date.
TEST(CliMoveTest, RunsAndUndosWithOneDateKeepEveryRecord) {
  MoveTree tree;
  const std::string src = tree.source.path(), tgt = tree.target.path();
  const std::vector<std::string> run = {"move", src, tgt, "--on", "2021-06-14", "-r"};
  ASSERT_EQ(RunCli(run, tree.cwd.path()).status, 0);
  WriteFile(tree.source.slash() + "later.txt", "later", UtcSeconds(2021, 6, 14, 8));
  const CliResult second = RunCli(run, tree.cwd.path());
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_NE(second.err.find("log: " + tree.cwd.slash() + "FileFind20210614-2.txt"),
            std::string::npos)
      << second.err;
  const std::string first_log = ReadFile(tree.cwd.slash() + "FileFind20210614.txt");
  EXPECT_NE(first_log.find("deep"), std::string::npos) << first_log;
  EXPECT_NE(ReadFile(tree.cwd.slash() + "FileFind20210614-2.txt").find("later.txt"),
            std::string::npos);

  // A fixed --log that holds a run log goes on beside it.
  WriteFile(tree.source.slash() + "third.txt", "3", UtcSeconds(2021, 6, 14, 9));
  const CliResult fixed = RunCli(
      {"move", src, tgt, "--on", "2021-06-14", "--log", "FileFind20210614.txt"}, tree.cwd.path());
  EXPECT_EQ(fixed.status, 0) << fixed.err;
  EXPECT_NE(fixed.err.find("log: " + tree.cwd.slash() + "FileFind20210614-3.txt"),
            std::string::npos)
      << fixed.err;
  EXPECT_EQ(ReadFile(tree.cwd.slash() + "FileFind20210614.txt"), first_log);

  // The second undo finds the files back already, and says so in a log of
  // its own.
  const struct {
    const char* log;
    int status;
  } undos[] = {{"FileFind20210614-undo.txt", 0}, {"FileFind20210614-undo-2.txt", 1}};
  for (const auto& expected : undos) {
    const CliResult undo = RunCli({"undo", "FileFind20210614.txt", src}, tree.cwd.path());
    EXPECT_EQ(undo.status, expected.status) << undo.err;
    EXPECT_NE(undo.err.find("log: " + tree.cwd.slash() + expected.log), std::string::npos)
        << undo.err;
  }
  // The first undo's record still says what it moved back.
  EXPECT_NE(ReadFile(tree.cwd.slash() + "FileFind20210614-undo.txt").find(kMovedTo),
            std::string::npos);
}

// A run that took nothing leaves no empty log behind, unless one was asked
// for by name.
TEST(CliMoveTest, ARunThatTookNothingLeavesNoLogUnlessOneWasAskedFor) {
  const struct {
    std::vector<std::string> extra;
    const char* there;  // an empty file there before, if any
    const char* log;    // left in the current folder, if any
    const char* says;
  } cases[] = {
      {{}, nullptr, nullptr, "; no file taken; no log written"},
      {{"--log", "night.txt"}, nullptr, "night.txt", "; log: "},
      // Not the run's own: it stays, and is the log.
      {{}, "FileFind19990101.txt", "FileFind19990101.txt", "; log: "},
  };
  for (const auto& c : cases) {
    MoveTree tree;
    if (c.there != nullptr) WriteFile(tree.cwd.slash() + c.there, "", UtcSeconds(2020, 1, 1));
    std::vector<std::string> args = {"move", tree.source.path(), tree.target.path(), "--on",
                                     "1999-01-01"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const CliResult run = RunCli(args, tree.cwd.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(NamesIn(tree.cwd.path()),
              c.log == nullptr ? std::set<std::string>{} : std::set<std::string>{c.log});
  }
}

// Under --quiet, a file that stayed is still named with its reason; with
// --json it is listed in the summary too.
TEST(CliMoveTest, AFileThatStaysReachesTheOperatorEvenWhenQuiet) {
  MoveTree tree;
  const std::string src = tree.source.path(), tgt = tree.target.path();
  const CliResult quiet =
      RunCli({"move", src, tgt, "--on", "2021-01-01", "-q", "--date-folder"}, tree.cwd.path());
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err, "");
  WriteFile(tree.source.slash() + "taken.txt", "mine again", UtcSeconds(2021, 1, 1));
  const CliResult failed =
      RunCli({"move", src, tgt, "--on", "2021-01-01", "-q", "--date-folder"}, tree.cwd.path());
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, "qor-cli: not moved: taken.txt: File exists\n");
  EXPECT_EQ(failed.out, "");

  // Given relative to the current folder, named whole in the summary.
  const std::string tgt_here = "../" + tgt.substr(tgt.rfind('/') + 1);
  const CliResult json =
      RunCli({"move", src, tgt_here, "--on", "2021-01-01", "-q", "--date-folder", "--json"},
             tree.cwd.path());
  EXPECT_EQ(json.status, 1);
  for (const std::string& part :
       {std::string("\"source\":\"") + src + "/\"",
        std::string("\"target\":\"") + tgt + "/20210101/\"", std::string("\"date\":\"2021-01-01\""),
        std::string("\"compare\":\"on\""),
        "\"log\":\"" + tree.cwd.slash() + "FileFind20210101-3.txt\"",
        std::string("\"started\":\"20"), std::string("Z\",\"ended\":\"20"),
        std::string("\"failed_files\":[{\"path\":\"taken.txt\",\"reason\":\"File exists\"}]")}) {
    EXPECT_NE(json.out.find(part), std::string::npos) << part << " in " << json.out;
  }
}

TEST(CliMoveTest, AnInterruptStopsBeforeTheNextFileWithAWholeLogAndStatus130) {
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    TempFolder source, target;
    constexpr int kFiles = 1000;
    for (int i = 0; i < kFiles; ++i) {
      WriteFile(source.slash() + "file" + std::to_string(i), "x", UtcSeconds(2020, 1, 1));
    }
    // The file lines fill a small pipe that is not read until the signal
    // has gone, so the run cannot have ended before it comes.
    int pipe_fds[2];
    ASSERT_EQ(::pipe2(pipe_fds, O_CLOEXEC), 0);
    ::fcntl(pipe_fds[1], F_SETPIPE_SZ, 4096);
    const int err = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = StartCli({"move", source.path(), target.path(), "--on", "2020-01-01", "-v"},
                               target.path(), pipe_fds[1], err);
    ::close(pipe_fds[1]);
    ::close(err);
    char byte;
    ASSERT_EQ(::read(pipe_fds[0], &byte, 1), 1);
    ASSERT_EQ(::kill(pid, signal), 0);
    std::string out(1, byte);
    char buffer[4096];
    for (ssize_t got; (got = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
      out.append(buffer, got);
    ::close(pipe_fds[0]);
    EXPECT_EQ(ExitStatus(pid), 130);

    const LogLines log = SplitLog(ReadFile(target.slash() + "FileFind20200101.txt"));
    EXPECT_TRUE(log.partial.empty()) << "the log ends inside an entry";
    const std::set<std::string> left = NamesIn(source.path());
    std::set<std::string> moved = NamesIn(target.path());
    moved.erase("FileFind20200101.txt");
    EXPECT_GT(moved.size(), 0u);
    EXPECT_LT(moved.size(), static_cast<std::size_t>(kFiles));
    EXPECT_EQ(left.size() + moved.size(), static_cast<std::size_t>(kFiles));
    EXPECT_EQ(log.lines.size(), moved.size());
    for (const std::string& line : log.lines) {
      EXPECT_EQ(moved.count(line.substr(0, line.find(kMovedTo))), 1u) << line;
    }
  }
}

TEST(CliMoveTest, RemoveEmptyTakesOnlyFoldersTheRunEmptiedNeverTheSource) {
  TempFolder source, target;
  WriteFile(source.slash() + "a/b/old.txt", "x", UtcSeconds(2020, 1, 1));
  std::filesystem::create_directories(source.slash() + "empty before");
  const CliResult run = RunCli({"move", source.path(), target.path(), "--before", "2021-01-01",
                                "-r", "--remove-empty", "-q"},
                               target.path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Exists(source.path()));
  EXPECT_EQ(NamesIn(source.path()), std::set<std::string>{"empty before"});
  EXPECT_EQ(ReadFile(target.slash() + "a/b/old.txt"), "x");
}

TEST(CliMoveTest, AFileOverTheSizeLimitFailsAloneAndStaysWhole) {
  // A copy to another file system past the process's file size limit must
  // fail that file, not end the run by SIGXFSZ with a half-written copy.
  TempFolder source("/dev/shm"), target(BuildParent()), cwd(BuildParent());
  if (SameFileSystem(source.path(), target.path()))
    GTEST_SKIP() << "/dev/shm is not another file system";
  const std::string big(3 << 20, 'b');
  WriteFile(source.slash() + "big.bin", big, UtcSeconds(2021, 6, 15));
  WriteFile(source.slash() + "small.txt", "s", UtcSeconds(2021, 6, 15));

  struct rlimit old_limit;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct rlimit limit = old_limit;
  limit.rlim_cur = 1 << 20;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const CliResult run =
      RunCli({"move", source.path(), target.path(), "--on", "2021-06-15"}, cwd.path());
  ::setrlimit(RLIMIT_FSIZE, &old_limit);

  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(ReadFile(source.slash() + "big.bin"), big);
  EXPECT_EQ(NamesIn(target.path()), std::set<std::string>{"small.txt"});
  const LogLines log = SplitLog(ReadFile(cwd.slash() + "FileFind20210615.txt"));
  EXPECT_TRUE(log.partial.empty());
  EXPECT_EQ(std::set<std::string>(log.lines.begin(), log.lines.end()),
            (std::set<std::string>{"big.bin" + std::string(kNotMoved) + "File too large",
                                   "small.txt" + std::string(kMovedTo) + target.slash()}));
}

TEST(CliMoveTest, TwoRunsIntoOneTargetAtOnceBothMoveEveryFile) {
  if (SameFileSystem(BuildParent(), "/dev/shm")) {
    GTEST_SKIP() << "/dev/shm and the build folder share a file system here";
  }
  // Two nightly jobs into one archive: their batches overlap in time, and
  // neither may take the other's copies in the making for leftovers.
  TempFolder source("/dev/shm"), target(std::filesystem::absolute(BuildParent()).string());
  TempFolder cwd_a, cwd_b;
  for (int i = 0; i < 200; ++i) {
    const std::string name = std::to_string(i);
    WriteFile(source.slash() + "d" + std::to_string(i % 10) + "/a" + name,
              std::string(64 << 10, 'a'), UtcSeconds(2021, 6, 15));
    WriteFile(source.slash() + "d" + std::to_string(i % 10) + "/b" + name, std::string(4096, 'b'),
              UtcSeconds(2021, 6, 16));
  }
  const auto run = [&](const char* date, const std::string& cwd) {
    return RunCli({"move", "-q", "-r", source.path(), target.path(), "--on", date}, cwd);
  };
  auto a = std::async(std::launch::async, run, "2021-06-15", cwd_a.path());
  // B starts while A's first batch is still being copied.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const CliResult b = run("2021-06-16", cwd_b.path());
  const CliResult a_result = a.get();

  EXPECT_EQ(a_result.status, 0) << a_result.err;
  EXPECT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(RecordTree(source.path()).size(), 0u);
  EXPECT_EQ(RecordTree(target.path()).size(), 400u);
}

}  // namespace
}  // namespace qor::testing
