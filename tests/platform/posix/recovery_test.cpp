// A run killed at each step of a move across file systems, and the next
// run's recovery: every file ends up once, whole, and nothing of the
// program's own is left; a live run's work is never touched.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "copy_kind.h"
#include "platform/files.h"
#include "platform/move_batch.h"
#include "platform/temporary_names.h"
#include "support/fake_recovery_log.h"
#include "support/file_systems.h"
#include "support/temp_tree.h"
#include "syscall_seam.h"

namespace qor::platform {
namespace {

using qor::testing::AtTheFirstSyncOnceACopyIsPlaced;
using qor::testing::BuildParent;
using qor::testing::CopyKind;
using qor::testing::FakeRecoveryLog;
using qor::testing::NamesIn;
using qor::testing::ReadFile;
using qor::testing::SameFileSystem;
using qor::testing::SyscallEvent;
using qor::testing::SyscallSeam;
using qor::testing::TempFolder;
using qor::testing::UtcSeconds;
using qor::testing::WriteFile;

const std::vector<std::string> kNames = {"a", "b", "c"};

class Recovery : public ::testing::Test {
 protected:
  void SetUp() override {
    if (SameFileSystem(BuildParent(), "/dev/shm")) {
      GTEST_SKIP() << "/dev/shm and the build folder share a file system here";
    }
    for (const std::string& name : kNames) {
      WriteFile(source_.slash() + name, "bytes of " + name, UtcSeconds(2020, 1, 1));
    }
    ::setenv("XDG_STATE_HOME", state_.path().c_str(), 1);
  }
  void TearDown() override { ::unsetenv("XDG_STATE_HOME"); }

  // The journals in this user's own folder for them.
  std::set<std::string> OwnJournals() const {
    const std::string own = state_.slash() + "qor/journals";
    return std::filesystem::exists(own) ? NamesIn(own) : std::set<std::string>{};
  }

  // Starts moving every file through one batch; `finish` false leaves the
  // batch pending (and the run alive) when it returns.
  void Move(TargetFolder& target, MoveBatch& batch, FolderListing& listing) {
    ASSERT_TRUE(target.Enter("").ok());
    for (const std::string& name : kNames) {
      MoveBatch::Steps steps;
      steps.begin = [] { return true; };
      steps.end = [](Outcome, FileIdentity) {};
      steps.entry = name + "      MOVED to   " + target_.slash();
      batch.Move(listing, name, target, std::move(steps));
    }
  }

  // Moves every file in a child process that dies (exit status 9) just
  // before the first call `dies_at` picks; its exit status.
  int RunDyingAt(const std::function<bool(const SyscallEvent&)>& dies_at) {
    const pid_t child = ::fork();
    if (child == 0) {
      SyscallSeam seam;
      seam.before = [&](const SyscallEvent& e) {
        if (dies_at(e)) ::_exit(9);
      };
      // A target folder that takes no journal (as one writable only below
      // its root would, for another user).
      if (refuse_journal_) {
        seam.fail = [in_target = true](const SyscallEvent& e) mutable {
          const bool refuse =
              in_target && e.call == "rename" && e.from.starts_with(".qor-journal-new-");
          in_target = in_target && !refuse;  // the next one is made elsewhere
          return refuse ? EACCES : 0;
        };
      }
      FolderListing listing(source_.path());
      TargetFolder target(target_.slash() + date_folder_);
      target.KeepJournal(
          source_.path(), [] { return FakeRecoveryLog().mark; }, !date_folder_.empty());
      MoveBatch batch([] { return true; });
      Move(target, batch, listing);
      batch.Finish();
      ::_exit(0);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child ? status : -1;
  }

  // Every file once, whole; nothing else in either folder but `extra`.
  void ExpectEachFileOnce(const std::set<std::string>& extra = {}) {
    std::set<std::string> names = NamesIn(source_.path());
    for (const std::string& name : NamesIn(target_.path())) {
      EXPECT_TRUE(names.insert(name).second) << "in both places: " << name;
    }
    std::set<std::string> expected(kNames.begin(), kNames.end());
    expected.insert(extra.begin(), extra.end());
    EXPECT_EQ(names, expected);
    for (const std::string& name : kNames) {
      const std::string in_target = target_.slash() + name;
      const std::string where =
          std::filesystem::exists(in_target) ? in_target : source_.slash() + name;
      EXPECT_EQ(ReadFile(where), "bytes of " + name);
    }
  }

  TempFolder source_{BuildParent()};
  TempFolder target_{"/dev/shm"};
  TempFolder state_{"/dev/shm"};  // this user's state folder
  std::string date_folder_;       // below target_, where the files go
  bool refuse_journal_ = false;   // the target folder takes no journal
};

TEST_F(Recovery, AKillAtAnyStepIsFinishedByTheNextRunAndLeavesNothingOfItsOwn) {
  struct Case {
    const char* label;
    std::function<bool(const SyscallEvent&)> dies_at;
    std::size_t finished;  // files whose move the recovery completes
  };
  const Case cases[] = {
      {"copies made, not yet durable", [](const SyscallEvent& e) { return e.call == "syncfs"; }, 0},
      {"copies placed, sources all there", AtTheFirstSyncOnceACopyIsPlaced(), 3},
      {"the first source about to be taken away",
       [](const SyscallEvent& e) { return e.call == "rename" && e.from == "a"; }, 3},
      {"the first source under its private name",
       [](const SyscallEvent& e) { return e.call == "unlink" && e.from.starts_with(kTakenPrefix); },
       3},
      // The first file moved before the kill; its entry was never written.
      {"the second source under its private name",
       [n = 0](const SyscallEvent& e) mutable {
         return e.call == "unlink" && e.from.starts_with(kTakenPrefix) && ++n == 2;
       },
       3},
  };
  // Copies held open without a name leave nothing behind; temporary names
  // are what the recovery removes. A target folder that takes no journal
  // has it kept in this user's own folder, where the next run finds it.
  for (const bool refused : {false, true})
    for (const bool unnamed : {true, false})
      for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.label) + (unnamed ? ", unnamed copies" : ", named temporaries") +
                     (refused ? ", the journal in the user's own folder" : ""));
        const CopyKind kind(unnamed);
        refuse_journal_ = refused;
        const int status = RunDyingAt(c.dies_at);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << "the run did not die there";
        EXPECT_EQ(OwnJournals().size(), refused ? 1u : 0u);
        if (refused) {
          // Not a run into another folder's to finish, nor a stranger to it.
          const TempFolder other("/dev/shm");
          FakeRecoveryLog elsewhere;
          const platform::Recovery none = RecoverKilledRuns(other.path(), elsewhere);
          EXPECT_TRUE(none.refused.empty() && elsewhere.written.empty());
          EXPECT_EQ(OwnJournals().size(), 1u);
        }
        if (unnamed) {
          for (const std::string& name : NamesIn(target_.path())) {
            EXPECT_FALSE(name.starts_with(kTemporaryPrefix)) << "a kill left a temporary: " << name;
          }
        }

        FakeRecoveryLog log;
        const platform::Recovery recovery = RecoverKilledRuns(target_.path(), log);

        EXPECT_EQ(recovery.logged, c.finished);
        EXPECT_EQ(log.written.size(), c.finished);
        EXPECT_EQ(recovery.left, 0);
        EXPECT_TRUE(recovery.refused.empty());
        EXPECT_EQ(OwnJournals(), std::set<std::string>{});
        ExpectEachFileOnce();
        for (const std::string& entry : log.written) {
          EXPECT_EQ(entry.find("      MOVED to   "), 1u) << entry;
        }
        // Back to the start for the next case.
        for (const std::string& name : NamesIn(target_.path())) {
          std::filesystem::remove(target_.slash() + name);
        }
        for (const std::string& name : kNames) {
          WriteFile(source_.slash() + name, "bytes of " + name, UtcSeconds(2020, 1, 1));
        }
      }
}

TEST_F(Recovery, ALiveRunsWorkIsNeverTouched) {
  const CopyKind kind(false);  // unnamed copies are no one's to touch
  FolderListing listing(source_.path());
  TargetFolder target(target_.path());
  target.KeepJournal(source_.path(), [] { return FakeRecoveryLog().mark; });
  MoveBatch batch([] { return true; });
  batch.SetJobs(1);  // each copy made before Move returns
  Move(target, batch, listing);
  const std::set<std::string> pending = NamesIn(target_.path());
  ASSERT_GE(pending.size(), 4u) << "three copies in the making and the run's journal";

  // Another run writing into the same target, meanwhile.
  FakeRecoveryLog log;
  const platform::Recovery recovery = RecoverKilledRuns(target_.path(), log);

  EXPECT_EQ(recovery.logged, 0u);
  EXPECT_TRUE(recovery.refused.empty());
  EXPECT_EQ(NamesIn(target_.path()), pending);
  ASSERT_TRUE(batch.Finish());
  EXPECT_EQ(NamesIn(source_.path()), std::set<std::string>{});
  for (const std::string& name : kNames) {
    EXPECT_EQ(ReadFile(target_.slash() + name), "bytes of " + name);
  }
}

TEST_F(Recovery, ASourceChangedSinceItsCopyWasPlacedStaysWithTheCopy) {
  ASSERT_NE(RunDyingAt(AtTheFirstSyncOnceACopyIsPlaced()), -1);
  WriteFile(source_.slash() + "b", "saved again later", UtcSeconds(2020, 1, 2));

  FakeRecoveryLog log;
  const platform::Recovery recovery = RecoverKilledRuns(target_.path(), log);

  EXPECT_EQ(recovery.logged, 2u);
  EXPECT_EQ(recovery.left, 1);
  EXPECT_EQ(ReadFile(source_.slash() + "b"), "saved again later");
  EXPECT_EQ(ReadFile(target_.slash() + "b"), "bytes of b");
}

// A power cut can keep a copy's name but not all its bytes, whatever the
// run synced (a disk that lied): a copy that holds only the start of its
// source goes, the source keeps its name and every byte, and the next run
// moves it afresh. Another's file under that name (an empty one holds the
// start of any file) stays.
TEST_F(Recovery, ACopyCutShortGoesAndItsSourceStays) {
  const auto at_taken = [](const SyscallEvent& e) {
    return e.call == "unlink" && e.from.starts_with(kTakenPrefix);
  };
  struct Case {
    const char* label;
    std::function<bool(const SyscallEvent&)> dies_at;
    std::uintmax_t kept;   // the bytes of a's copy the cut kept
    bool another = false;  // an empty file of another's under a's name instead
  };
  const Case cases[] = {
      {"sources all there, a's copy empty", AtTheFirstSyncOnceACopyIsPlaced(), 0},
      {"a under its private name, its copy empty", at_taken, 0},
      {"a under its private name, its copy cut short", at_taken, 4},
      {"sources all there, another's empty file under a's name", AtTheFirstSyncOnceACopyIsPlaced(),
       0, true},
      {"a under its private name, another's empty file under its name", at_taken, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_NE(RunDyingAt(c.dies_at), -1);
    std::filesystem::resize_file(target_.slash() + "a", c.kept);
    if (c.another) {
      std::filesystem::remove(target_.slash() + "a");
      WriteFile(target_.slash() + "a", "", UtcSeconds(2019, 1, 1));
    }

    FakeRecoveryLog log;
    const platform::Recovery recovery = RecoverKilledRuns(target_.path(), log);

    EXPECT_EQ(recovery.logged, 2u);
    EXPECT_EQ(recovery.left, c.another ? 1 : 0);
    EXPECT_TRUE(recovery.hidden.empty());
    EXPECT_EQ(NamesIn(target_.path()), c.another ? (std::set<std::string>{"a", "b", "c"})
                                                 : (std::set<std::string>{"b", "c"}));
    EXPECT_EQ(ReadFile(source_.slash() + "a"), "bytes of a");
    std::filesystem::remove(target_.slash() + "a");
    for (const std::string name : {"b", "c"}) {
      std::filesystem::remove(target_.slash() + name);
      WriteFile(source_.slash() + name, "bytes of " + name, UtcSeconds(2020, 1, 1));
    }
  }
}

TEST_F(Recovery, ARunIntoADateFolderIsFinishedByARunOfAnotherDate) {
  date_folder_ = "20200101";
  ASSERT_NE(RunDyingAt(AtTheFirstSyncOnceACopyIsPlaced()), -1);

  FakeRecoveryLog log;
  const platform::Recovery recovery = RecoverKilledRuns(target_.path(), log);

  EXPECT_EQ(recovery.logged, kNames.size());
  EXPECT_EQ(NamesIn(source_.path()), std::set<std::string>{});
  EXPECT_EQ(NamesIn(target_.path()), std::set<std::string>{date_folder_});
  EXPECT_EQ(NamesIn(target_.slash() + date_folder_),
            std::set<std::string>(kNames.begin(), kNames.end()));
}

TEST_F(Recovery, ASourceThatCanNeitherGoNorGoBackIsNamedUntilItCan) {
  ASSERT_NE(RunDyingAt([](const SyscallEvent& e) {
              return e.call == "unlink" && e.from.starts_with(kTakenPrefix);
            }),
            -1);
  // The copy edited, and a new file saved under the old name meanwhile.
  WriteFile(target_.slash() + "a", "edited copy", UtcSeconds(2020, 1, 3));
  WriteFile(source_.slash() + "a", "a new file", UtcSeconds(2020, 1, 4));
  std::string hidden;
  for (const std::string& name : NamesIn(source_.path())) {
    if (name.starts_with(kTakenPrefix)) hidden = source_.slash() + name;
  }
  ASSERT_FALSE(hidden.empty());

  for (int run = 0; run < 2; ++run) {
    FakeRecoveryLog log;
    const platform::Recovery recovery = RecoverKilledRuns(target_.path(), log);
    EXPECT_EQ(recovery.hidden, std::vector<std::string>{hidden}) << "run " << run;
    EXPECT_EQ(ReadFile(hidden), "bytes of a");
  }

  std::filesystem::remove(source_.slash() + "a");
  FakeRecoveryLog log;
  const platform::Recovery recovery = RecoverKilledRuns(target_.path(), log);
  EXPECT_TRUE(recovery.hidden.empty());
  EXPECT_EQ(ReadFile(source_.slash() + "a"), "bytes of a");
  EXPECT_EQ(ReadFile(target_.slash() + "a"), "edited copy");
  for (const std::string& name : NamesIn(target_.path())) {
    EXPECT_FALSE(name.starts_with(kJournalPrefix)) << "kept once resolved";
  }
}

TEST_F(Recovery, ARunThatCanKeepNoJournalMovesAllAndSaysSo) {
  SyscallSeam seam;
  seam.before = [&](const SyscallEvent& e) {
    if (e.call == "rename" && e.from.starts_with(".qor-journal-new-")) {
      std::filesystem::remove(target_.slash() + e.from);  // as a share that refuses it
    }
  };
  FolderListing listing(source_.path());
  TargetFolder target(target_.path());
  target.KeepJournal(source_.path(), [] { return FakeRecoveryLog().mark; });
  MoveBatch batch([] { return true; });
  Move(target, batch, listing);
  ASSERT_TRUE(batch.Finish());

  EXPECT_NE(target.JournalProblem().find("cannot be made"), std::string::npos)
      << target.JournalProblem();
  EXPECT_EQ(NamesIn(target_.path()), std::set<std::string>(kNames.begin(), kNames.end()));
}

// A batch of renames on one file system, killed after its journal named
// them and before (or while) their entries reached the log: the next run
// logs exactly the renames that were made and that the killed run's log
// lacks, wherever a later run put that log, and only where its file is
// still the one renamed, also where a restart numbered its disk anew; a
// piece of an entry the kill cut short goes (where the disk's number is
// the recorded one).
TEST(RenameRecovery, TheNextRunLogsTheRenamesAKillLeftUnlogged) {
  struct Case {
    const char* label;
    int dies_at_rename;  // 0: after every rename, as the log is written
    bool replaced;       // "a" at its new name is another file since
    std::size_t whole;   // the entries the killed log holds whole
    bool cut;            // and a piece of the next
    bool aside;          // a later run's log took its name, it has another
    bool renumbered;     // the disk had another device number at the kill
    std::size_t logged;
  };
  const Case cases[] = {
      {"before the first rename", 1, false, 0, false, false, false, 0},
      {"before the third rename", 3, false, 0, false, false, false, 2},
      {"before the log write", 0, false, 0, false, false, false, 3},
      {"before the log write, a replaced since", 0, true, 0, false, false, false, 2},
      {"in the log write", 0, false, 1, true, false, false, 2},
      {"in the log write, its log put aside", 0, false, 2, false, true, false, 1},
      {"in the log write, the disk numbered anew", 0, false, 1, true, false, true, 2},
      {"its log put aside, the disk numbered anew", 0, false, 2, false, true, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder source("/dev/shm"), target("/dev/shm"), logs("/dev/shm");
    for (const std::string& name : kNames) {
      WriteFile(source.slash() + name, "bytes of " + name, UtcSeconds(2020, 1, 1));
    }
    const std::string killed_log = logs.slash() + "run.log";
    WriteFile(killed_log, "", UtcSeconds(2020, 1, 1));
    struct stat log_st;
    ASSERT_EQ(::stat(killed_log.c_str(), &log_st), 0);
    const std::uint64_t renumbered = c.renumbered ? 1 : 0;
    const LogMark log_mark{killed_log,
                           {static_cast<std::uint64_t>(log_st.st_dev) + renumbered,
                            static_cast<std::uint64_t>(log_st.st_ino)},
                           0};
    const auto entry_of = [&](const std::string& name) {
      return name + "      MOVED to   " + target.slash();
    };
    const pid_t child = ::fork();
    if (child == 0) {
      SyscallSeam seam;
      int renames = 0;
      seam.before = [&](const SyscallEvent& e) {
        if (e.call == "rename" && e.from.size() == 1 && ++renames == c.dies_at_rename) ::_exit(9);
      };
      FolderListing listing(source.path());
      TargetFolder to(target.path());
      to.KeepJournal(source.path(), [&] { return log_mark; });
      if (!to.Enter("").ok()) ::_exit(1);
      MoveBatch batch([] { return true; });
      batch.SetJobs(1);
      batch.WhenSettled([](bool) -> bool { ::_exit(9); });
      for (const std::string& name : kNames) {
        struct stat st;
        if (::stat((source.slash() + name).c_str(), &st) != 0) ::_exit(1);
        MoveBatch::Steps steps;
        steps.begin = [] { return false; };  // never: every entry follows its rename
        steps.begin_later = [] { return true; };
        steps.end = [](Outcome, FileIdentity) {};
        steps.entry = entry_of(name);
        steps.identity = {static_cast<std::uint64_t>(st.st_dev) + renumbered,
                          static_cast<std::uint64_t>(st.st_ino)};
        batch.Move(listing, name, to, std::move(steps));
      }
      batch.Finish();
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << "the run did not die there";
    if (c.replaced) {
      std::filesystem::remove(target.slash() + "a");
      WriteFile(target.slash() + "a", "bytes of a", UtcSeconds(2020, 1, 1));
    }
    std::string whole;
    for (std::size_t i = 0; i < c.whole; ++i) whole += entry_of(kNames[i]) + "\r\n";
    const std::string cut = c.cut ? entry_of(kNames[c.whole]) : "";
    {
      std::ofstream out(killed_log, std::ios::binary | std::ios::app);
      out << whole << cut.substr(0, cut.size() - 3);
    }
    std::string kept_at = killed_log;
    if (c.aside) {
      kept_at = logs.slash() + "run-2.log";
      std::filesystem::rename(killed_log, kept_at);
      WriteFile(killed_log, "", UtcSeconds(2020, 1, 1));
    }

    FakeRecoveryLog log;
    const platform::Recovery recovery = RecoverKilledRuns(target.path(), log);

    EXPECT_EQ(recovery.logged, c.logged);
    // Where the disk's number changed, the log is read but never written:
    // a piece cut short stays.
    const std::string piece = c.renumbered ? cut.substr(0, cut.size() - 3) : "";
    EXPECT_EQ(ReadFile(kept_at), whole + piece) << "the killed run's log, whole entries only";
    ASSERT_EQ(log.written.size(), c.logged);
    for (const std::string& entry : log.written) {
      EXPECT_TRUE(std::filesystem::exists(target.slash() + entry.substr(0, 1))) << entry;
      EXPECT_TRUE(!c.replaced || entry[0] != 'a') << entry;
    }
    std::set<std::string> names = NamesIn(source.path());
    for (const std::string& name : NamesIn(target.path())) {
      EXPECT_TRUE(names.insert(name).second) << "in both places, or the program's own: " << name;
    }
    EXPECT_EQ(names, std::set<std::string>(kNames.begin(), kNames.end()));
  }
}

}  // namespace
}  // namespace qor::platform
