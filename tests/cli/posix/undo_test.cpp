// qor-cli undo through the real binary: a run taken back exactly, conflicts
// left alone, and the JSON summary.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "cli_runner.h"

namespace qor::testing {
namespace {

// Asks Python's json module to read `text` and return `expression` of it
// (the object is `d`); names that are not UTF-8 come back byte for byte.
std::string FromJson(const std::string& text, const std::string& expression) {
  TempFolder folder;
  WriteFile(folder.slash() + "in.json", text, UtcSeconds(2020, 1, 1));
  WriteFile(folder.slash() + "read.py",
            "import json, os, sys\nd = json.load(open(sys.argv[1]))\n"
            "sys.stdout.buffer.write(os.fsencode(str(" +
                expression + ")))\n",
            UtcSeconds(2020, 1, 1));
  const std::string command = "python3 " + folder.slash() + "read.py " + folder.slash() +
                              "in.json > " + folder.slash() + "out";
  if (std::system(command.c_str()) != 0) return "<not JSON>";
  return ReadFile(folder.slash() + "out");
}

void BuildTree(const std::string& source) {
  long ns = 1;
  const int root = ::open(source.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (const char* name : {"plain.txt", "line\nbreak", "back\\slash", "\xff not UTF-8"}) {
    WriteFileAt(root, name, std::string("bytes of ") + name, UtcSeconds(2020, 3, 4), ns++);
    const int sub = MakeFolderAt(root, std::string("sub ") + name);
    WriteFileAt(sub, name, name, UtcSeconds(2019, 5, 6), ns++);
    ::close(sub);
  }
  WriteFileAt(root, "kept.txt", "not taken", UtcSeconds(2021, 5, 6));
  ::close(root);
}

TEST(CliUndoTest, UndoAfterARunRestoresTheTreeExactlyAndCanItselfBeUndone) {
  TempFolder source, target, cwd;
  BuildTree(source.path());
  const TreeFacts before = RecordTree(source.path());
  const CliResult run = RunCli({"move", source.path(), target.path(), "--before", "2021-01-01",
                                "-r", "--date-folder", "--remove-empty", "-q"},
                               cwd.path());
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(NamesIn(source.path()), std::set<std::string>{"kept.txt"});
  const TreeFacts moved = RecordTree(target.slash() + "20210101");

  const CliResult undo = RunCli({"undo", "FileFind20210101.txt", source.path()}, cwd.path());
  EXPECT_EQ(undo.status, 0) << undo.err;
  const TreeFacts after = RecordTree(source.path());
  ASSERT_EQ(after.size(), before.size());
  for (const auto& [name, facts] : before) {
    ASSERT_EQ(after.count(name), 1u) << name;
    EXPECT_TRUE(after.at(name).SameContentAndTime(facts)) << name;
  }
  EXPECT_TRUE(RecordTree(target.path()).empty());

  // The undo's own log takes the files to the date folder again.
  const CliResult redo =
      RunCli({"undo", "FileFind20210101-undo.txt", target.slash() + "20210101"}, cwd.path());
  EXPECT_EQ(redo.status, 0) << redo.err;
  EXPECT_TRUE(SameTree(RecordTree(target.slash() + "20210101"), moved));
}

TEST(CliUndoTest, ConflictsAreLeftAloneAndReportedAndEntriesNotMovedAreSkipped) {
  TempFolder source, target, cwd;
  BuildTree(source.path());
  ASSERT_EQ(
      RunCli({"move", source.path(), target.path(), "--before", "2021-01-01", "-q"}, cwd.path())
          .status,
      0);
  // The original name taken again, a moved file gone, and two entries that
  // do not record a move: one not moved, one cut off by a crash.
  WriteFile(source.slash() + "plain.txt", "new content", UtcSeconds(2022, 1, 1));
  std::filesystem::remove(target.slash() + "back\\slash");
  const std::string log = cwd.slash() + "FileFind20210101.txt";
  WriteFile(log, ReadFile(log) + "sub/x      NOT MOVED: File exists\r\nsub/y",
            UtcSeconds(2022, 1, 1));

  const CliResult preview = RunCli({"undo", log, source.path(), "-n", "--json"}, cwd.path());
  EXPECT_EQ(preview.status, 1) << preview.err;
  EXPECT_TRUE(Exists(target.slash() + "line\nbreak")) << "a preview moved a file";
  EXPECT_NE(preview.err.find("would bring back: line\\x0Abreak -> " + source.slash() + "\n"),
            std::string::npos)
      << "each file with the folder it would go back to: " << preview.err;
  EXPECT_FALSE(Exists(cwd.slash() + "FileFind20210101-undo.txt"));

  const CliResult undo = RunCli({"undo", log, source.path(), "--json"}, cwd.path());
  EXPECT_EQ(undo.status, 1) << undo.err;
  EXPECT_EQ(ReadFile(source.slash() + "plain.txt"), "new content");
  EXPECT_EQ(ReadFile(target.slash() + "plain.txt"), "bytes of plain.txt");
  EXPECT_EQ(ReadFile(source.slash() + "line\nbreak"), "bytes of line\nbreak");
  EXPECT_EQ(ReadFile(source.slash() + "\xff not UTF-8"), "bytes of \xff not UTF-8");
  EXPECT_NE(undo.err.find("plain.txt: its original name is taken"), std::string::npos) << undo.err;
  EXPECT_NE(undo.err.find("back\\x5Cslash: the moved file is gone"), std::string::npos);
  for (const CliResult* result : {&preview, &undo}) {
    EXPECT_EQ(FromJson(result->out, "[d['entries'], d['moved'], d['failed'], d['skipped']]"),
              "[6, 2, 2, 2]");
  }
  EXPECT_EQ(FromJson(undo.out, "d['log']"), cwd.slash() + "FileFind20210101-undo.txt");
  const LogLines undo_log = SplitLog(ReadFile(cwd.slash() + "FileFind20210101-undo.txt"));
  EXPECT_EQ(undo_log.lines.size(), 4u);
  EXPECT_EQ(std::count_if(undo_log.lines.begin(), undo_log.lines.end(),
                          [](const std::string& line) {
                            return line.find("      NOT MOVED: ") != std::string::npos;
                          }),
            2);
}

TEST(CliUndoTest, TheMoveSummaryIsOneJsonObjectWhateverTheLogIsCalled) {
  TempFolder source, target, cwd;
  WriteFile(source.slash() + "a", "12345", UtcSeconds(2020, 1, 1));
  WriteFile(target.slash() + "b", "taken", UtcSeconds(2020, 1, 1));
  WriteFile(source.slash() + "b", "67", UtcSeconds(2020, 1, 1));
  const std::string log_name = "log \"\xe9\\\n.txt";
  const CliResult run = RunCli({"move", source.path(), target.path(), "--on", "2020-01-01",
                                "--json", "-v", "--log", log_name},
                               cwd.path());
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(
      FromJson(run.out, "[d['taken'], d['moved'], d['failed'], d['bytes'], d['exit_status']]"),
      "[2, 1, 1, 5, 1]");
  EXPECT_EQ(FromJson(run.out, "d['log']"), cwd.slash() + log_name);
  EXPECT_TRUE(Exists(cwd.slash() + log_name));
}

// An undo moves nothing a log cannot vouch for: an entry edited to another
// folder, a NUL escape, a link planted on the way down, an endless line and
// a file that is no log at all.
TEST(CliUndoTest, HostileLogsMoveNothingTheyCannotVouchFor) {
  using Spoil = std::function<std::string(const std::string& target, const std::string& elsewhere,
                                          const std::string& log)>;
  const auto append = [](const std::string& log, const std::string& lines) {
    WriteFile(log, ReadFile(log) + lines, UtcSeconds(2022, 1, 1));
    return log;
  };
  const std::string moved_to = "      MOVED to   ";
  const std::vector<std::string> kAll = {"a", "notes.txt", "sub/b.txt"};
  const struct {
    const char* what;
    Spoil spoil;
    int status;
    std::string err;
    std::string stays;  // below the target or the other folder, never moved
    std::vector<std::string> back;
  } cases[] = {
      {"an entry edited to another folder",
       [&](auto&, auto& elsewhere, auto& log) {
         return append(log, "other.txt" + moved_to + elsewhere + "/\r\n");
       },
       1, "refused, damaged entry: 4: other.txt" + moved_to, "elsewhere/other.txt", kAll},
      {"a NUL escape",
       [&](auto& target, auto&, auto& log) {
         return append(log, "z\\x00b" + moved_to + target + "/\r\n");
       },
       1, "refused, damaged entry: 4: z\\x00b" + moved_to, "target/z", kAll},
      {"a link planted on the way down",
       [&](auto& target, auto& elsewhere, auto& log) {
         std::filesystem::rename(target + "/sub", target + "/old sub");
         std::filesystem::create_directory_symlink(elsewhere, target + "/sub");
         return log;
       },
       1,
       "sub/b.txt: a symbolic link in the target path",
       "elsewhere/b.txt",
       {"a", "notes.txt"}},
      {"a 1 MB line and a longer one",
       [&](auto& target, auto&, auto& log) {
         std::string endless;
         while (endless.size() < 1000000) endless += "x" + moved_to;
         return append(log, endless + target + "/\r\n" + std::string(1100000, 'y') + moved_to +
                                target + "/\r\n");
       },
       1, "refused, damaged entry: 5: yyy", "target/z", kAll},
      {"a file that is no log",
       [&](auto&, auto&, auto& log) {
         const std::string json = log.substr(0, log.rfind('/') + 1) + "out.json";
         WriteFile(json, "{\"command\":\"move\"}\n", UtcSeconds(2022, 1, 1));
         return json;
       },
       2,
       "not a run log",
       "target/z",
       {}},
      // What someone else could have written: an undo of it could move
      // anything of this user's into SOURCE.
      {"a log others may write into",
       [](auto&, auto&, auto& log) { return ::chmod(log.c_str(), 0666), log; },
       2,
       "(others may write into it); undo takes only",
       "target/z",
       {}},
      {"a log with a second name",
       [](auto&, auto&, auto& log) { return ::link(log.c_str(), (log + "-2").c_str()), log; },
       2,
       "(it has further names",
       "target/z",
       {}},
      {"a log in a folder others may write into",
       [](auto&, auto&, auto& log) {
         return ::chmod(log.substr(0, log.rfind('/')).c_str(), 0777), log;
       },
       2,
       "(it lies in a folder where others may replace it)",
       "target/z",
       {}},
      {"another user's log",
       [](auto&, auto&, auto& log) { return ::chown(log.c_str(), 1001, 1001), log; },
       2,
       "(another user owns it)",
       "target/z",
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (std::string(c.what) == "another user's log" && ::geteuid() != 0) continue;
    TempFolder source, outer, cwd;
    const std::string target = outer.slash() + "target", elsewhere = outer.slash() + "elsewhere";
    for (const std::string& name : kAll) {
      WriteFile(source.slash() + name, name, UtcSeconds(2020, 1, 1));
    }
    for (const char* name : {"elsewhere/other.txt", "elsewhere/b.txt", "target/z"}) {
      WriteFile(outer.slash() + name, "not moved", UtcSeconds(2020, 1, 1));
    }
    ASSERT_EQ(RunCli({"move", source.path(), target, "--before", "2021-01-01", "-r", "-q", "--log",
                      "run.txt"},
                     cwd.path())
                  .status,
              0);
    const std::string log = c.spoil(target, elsewhere, cwd.slash() + "run.txt");

    const CliResult undo = RunCli({"undo", log, source.path()}, cwd.path());
    EXPECT_EQ(undo.status, c.status) << undo.err;
    EXPECT_NE(undo.err.find(c.err), std::string::npos) << undo.err.substr(0, 500);
    EXPECT_EQ(ReadFile(outer.slash() + c.stays), "not moved");
    for (const std::string& name : kAll) {
      const bool back = std::find(c.back.begin(), c.back.end(), name) != c.back.end();
      EXPECT_EQ(Exists(source.slash() + name), back) << name;
    }
    if (c.status == 2) {
      EXPECT_EQ(NamesIn(cwd.path()).count("run-undo.txt"), 0u) << "no undo log";
    }
  }
}

}  // namespace
}  // namespace qor::testing
