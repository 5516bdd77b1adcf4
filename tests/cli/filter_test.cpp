// qor-cli move's name, size and depth filters through the real binary: the
// preview, the run and its log take the same files, and an excluded folder
// is never opened.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "run/log_format.h"
#include "run/test_paths.h"
#include "support/temp_tree.h"

namespace qor::testing {
namespace {

const struct {
  const char* path;
  std::size_t size;
} kFiles[] = {{"old.txt", 1},          {"old.tmp", 3000},   {"Thumbs.db", 2048},
              {"Notes.TXT", 100},      {"a/old.txt", 5000}, {"a/cache/c.txt", 1},
              {"b/cache/d.txt", 2047}, {"b/e.log", 4096},   {"b/deep/f.txt", 1}};

struct FilterTree {
  FilterTree() {
    for (const auto& file : kFiles) {
      WriteFile(source.slash() + Native(file.path), std::string(file.size, 'x'),
                UtcSeconds(2020, 1, 1));
    }
  }
  // Runs over the tree, a preview when `extra` holds "-n".
  CliResult Run(std::vector<std::string> extra) const {
    std::vector<std::string> args = {"move", source.path(), target.path(), "--before", "2021-01-01",
                                     "-r",   "--json",      "--log",       log()};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCli(args, cwd.path());
  }
  std::string log() const { return cwd.slash() + "run.txt"; }
  TempFolder source, target, cwd;
};

long long Searched(const CliResult& result) {
  const std::string key = "\"searched\":";
  const std::size_t at = result.out.find(key);
  return at == std::string::npos ? -1 : std::stoll(result.out.substr(at + key.size()));
}

struct FilterCase {
  std::vector<std::string> args;
  std::set<std::string> moved;
  std::vector<std::string> closed;  // folders the walk must not open
};

TEST(CliFilterTest, PreviewRunAndLogTakeTheFilesThePatternsChooseAndSkipExcludedFolders) {
  std::set<std::string> txt = {"old.txt", "a/old.txt", "a/cache/c.txt", "b/cache/d.txt",
                               "b/deep/f.txt"};
#ifdef _WIN32
  txt.insert("Notes.TXT");  // letter case does not count here
#endif
  const std::vector<FilterCase> cases = {
      {{"--exclude", "*.tmp", "--exclude", "Thumbs.db", "--exclude-dir", "cache"},
       {"old.txt", "Notes.TXT", "a/old.txt", "b/e.log", "b/deep/f.txt"},
       {"a/cache", "b/cache"}},
      {{"--include", "*.txt"}, txt, {}},
      {{"--include", "a/*"}, {"a/old.txt"}, {}},
      {{"--include", "**/cache/*"}, {"a/cache/c.txt", "b/cache/d.txt"}, {}},
      {{"--exclude-dir", "b/cache", "--exclude-dir", "*p"},
       {"old.txt", "old.tmp", "Thumbs.db", "Notes.TXT", "a/old.txt", "a/cache/c.txt", "b/e.log"},
       {"b/cache", "b/deep"}},
      {{"--include", "*.t??", "--exclude", "a/**", "--exclude", "[tN]*"},
       {"old.txt", "old.tmp", "b/cache/d.txt", "b/deep/f.txt"},
       {}},
      {{"--min-size", "2k"}, {"old.tmp", "Thumbs.db", "a/old.txt", "b/e.log"}, {}},
      {{"--max-size", "2047"},
       {"old.txt", "Notes.TXT", "a/cache/c.txt", "b/cache/d.txt", "b/deep/f.txt"},
       {}},
      {{"--min-size", "3000", "--max-size", "4K", "--include", "*.log"}, {"b/e.log"}, {}},
      {{"--max-depth", "1"},
       {"old.txt", "old.tmp", "Thumbs.db", "Notes.TXT", "a/old.txt", "b/e.log"},
       {"a/cache", "b/cache", "b/deep"}},
  };
  // What the unfiltered walk searches, and what each folder holds.
  const FilterTree whole;
  const long long all = Searched(whole.Run({"-n"}));
  ASSERT_GT(all, 0);

  for (const FilterCase& test : cases) {
    std::string shown;
    for (const std::string& arg : test.args) shown += arg + " ";
    SCOPED_TRACE(shown);
    long long unopened = 0;
    for (const std::string& folder : test.closed) {
      unopened += Searched(RunCli({"move", whole.source.slash() + Native(folder),
                                   whole.target.path(), "--before", "2021-01-01", "-n", "--json"},
                                  whole.cwd.path()));
    }
    FilterTree tree;
    std::vector<std::string> preview_args = test.args;
    preview_args.push_back("-n");
    const CliResult preview = tree.Run(preview_args);
    EXPECT_EQ(preview.status, 0) << preview.err;
    EXPECT_EQ(Searched(preview), all - unopened) << "an excluded folder was opened";

    const CliResult run = tree.Run(test.args);
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<std::string> logged;
    for (const std::string& line : Lines(ReadFile(tree.log()))) {
      logged.push_back(line.substr(0, line.find(kMovedTo)));
    }
    std::vector<std::string> previewed;
    for (const std::string& line : Lines(preview.err)) {
      if (line.starts_with("would move: ")) {
        previewed.push_back(line.substr(12, line.find(" -> ") - 12));
      }
    }
    EXPECT_EQ(previewed, logged);
    std::set<std::string> expected;
    for (const std::string& file : test.moved) expected.insert(LogText(Native(file)));
    EXPECT_EQ(std::set<std::string>(logged.begin(), logged.end()), expected);
  }
}

}  // namespace
}  // namespace qor::testing
