// What qor-cli does with the journals of killed runs it finds: a stranger's is
// named and left alone, one of its own is finished and logged.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli_runner.h"
#include "platform/journal_records.h"
#include "support/sealed_journal.h"

namespace qor::testing {
namespace {

void Plant(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(fd);
}

TEST(CliJournalTest, AJournalThatNamesFilesOutsideTheRunIsLeftAloneAndNamed) {
  TempFolder victim, source, target, cwd;
  WriteFile(victim.slash() + "f", "keep me", UtcSeconds(2020, 1, 1));
  WriteFile(source.slash() + "a.txt", "a", UtcSeconds(2020, 1, 1));
  // As an earlier version wrote its journals: absolute paths, source and copy
  // one file.
  const std::string journal = target.slash() + ".qor-journal-0123456789ab";
  Plant(journal, std::string("P\0", 2) + victim.slash() + '\0' + "f" + '\0' + victim.slash() +
                     '\0' + "f" + '\0' + "e" + '\0');

  const CliResult run = RunCli(
      {"move", source.path(), target.path(), "--on", "2020-01-01", "--log", "run.txt"}, cwd.path());

  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("left alone"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFile(victim.slash() + "f"), "keep me");
  EXPECT_TRUE(std::filesystem::exists(journal));
  EXPECT_EQ(ReadFile(target.slash() + "a.txt"), "a");
  const std::string log = ReadFile(cwd.slash() + "run.txt");
  EXPECT_NE(log.find(".qor-journal-0123456789ab      NOT MOVED: "), std::string::npos) << log;
  EXPECT_NE(log.find("a.txt      MOVED to   "), std::string::npos) << log;
}

TEST(CliJournalTest, AnUndoLogsTheFilesItFinishesForAKilledUndo) {
  TempFolder source, target, cwd;
  // A killed undo: the copy of f put back in SOURCE, f still in TARGET.
  WriteFile(target.slash() + "f", "bytes", UtcSeconds(2020, 1, 1));
  WriteFile(source.slash() + "f", "bytes", UtcSeconds(2020, 1, 1));
  const std::string entry = "f      MOVED to   " + source.slash();
  Plant(source.slash() + ".qor-journal-0123456789ab",
        Sealed(platform::RootsRecord(platform::RealPath(target.path()) + "/",
                                     platform::RealPath(source.path()) + "/") +
               platform::PlacingRecord("", "", "f", entry)));
  WriteFile(cwd.slash() + "run.txt", "g      MOVED to   " + target.slash() + "\r\n",
            UtcSeconds(2020, 1, 1));

  const CliResult undo = RunCli({"undo", "run.txt", source.path()}, cwd.path());

  EXPECT_NE(undo.err.find("finished 1 files of an interrupted undo"), std::string::npos)
      << undo.err;
  EXPECT_FALSE(std::filesystem::exists(target.slash() + "f"));
  EXPECT_EQ(ReadFile(source.slash() + "f"), "bytes");
  EXPECT_NE(ReadFile(cwd.slash() + "run-undo.txt").find(entry + "\r\n"), std::string::npos);
}

// A killed run's copy in place, its source still there: only a journal
// sealed with this user's key, whose entry names the journal's own target,
// is finished; anything else, whatever its file system shows, is left alone.
TEST(CliJournalTest, OnlyAJournalSealedByThisUserNamingItsOwnTargetIsFinished) {
  TempFolder elsewhere;
  const std::string unsafe_config = elsewhere.slash() + "config";
  std::filesystem::create_directories(unsafe_config + "/qor");
  ::chmod((unsafe_config + "/qor").c_str(), 0777);
  const struct {
    const char* label;
    bool own_target;
    const char* config;  // XDG_CONFIG_HOME for the run; null: as it stands
    bool finished;
  } cases[] = {
      {"as a run writes it", true, nullptr, true},
      {"its entry naming another folder", false, nullptr, false},
      {"no key this user alone can have written", true, unsafe_config.c_str(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder source, target, cwd;
    WriteFile(source.slash() + "f", "bytes", UtcSeconds(2020, 1, 1));
    WriteFile(target.slash() + "f", "bytes", UtcSeconds(2020, 1, 1));
    const std::string into = c.own_target ? target.slash() : elsewhere.slash();
    Plant(target.slash() + ".qor-journal-0123456789ab",
          Sealed(platform::RootsRecord(platform::RealPath(source.path()) + "/",
                                       platform::RealPath(target.path()) + "/") +
                 platform::PlacingRecord("", "", "f", "f      MOVED to   " + into)));
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string kept = config == nullptr ? "" : config;
    if (c.config != nullptr) ::setenv("XDG_CONFIG_HOME", c.config, 1);
    const CliResult run =
        RunCli({"move", source.path(), target.path(), "--on", "2020-01-01", "--log", "run.txt"},
               cwd.path());
    if (config == nullptr) {
      ::unsetenv("XDG_CONFIG_HOME");
    } else {
      ::setenv("XDG_CONFIG_HOME", kept.c_str(), 1);
    }

    const std::string log = ReadFile(cwd.slash() + "run.txt");
    EXPECT_EQ(std::filesystem::exists(source.slash() + "f"), !c.finished) << run.err;
    EXPECT_EQ(ReadFile(target.slash() + "f"), "bytes");
    EXPECT_EQ(log.find("MOVED to   " + elsewhere.slash()), std::string::npos) << log;
    EXPECT_EQ(std::filesystem::exists(target.slash() + ".qor-journal-0123456789ab"), !c.finished);
    if (c.config != nullptr) {
      const std::size_t said = run.err.find("journal key");
      EXPECT_NE(said, std::string::npos) << run.err;
      EXPECT_EQ(run.err.find("journal key", said + 1), std::string::npos) << run.err;
    }
  }
}

}  // namespace
}  // namespace qor::testing
