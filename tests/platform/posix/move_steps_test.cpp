// The order and the checks of a move's steps, seen at the system's door:
// no source goes before its copy is durable and in place, no name is ever
// replaced, a source that changes at the last moment stays, and whatever
// comes between a check and its step is caught after the step.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "copy_kind.h"
#include "platform/batch_limits.h"
#include "platform/files.h"
#include "platform/journal_key.h"
#include "platform/journal_records.h"
#include "platform/move_batch.h"
#include "platform/temporary_names.h"
#include "support/file_systems.h"
#include "support/temp_tree.h"
#include "syscall_seam.h"

namespace qor::platform {
namespace {

using qor::testing::BuildParent;
using qor::testing::CopyKind;
using qor::testing::Exists;
using qor::testing::NamesIn;
using qor::testing::ReadFile;
using qor::testing::SameFileSystem;
using qor::testing::SyscallEvent;
using qor::testing::SyscallSeam;
using qor::testing::TempFolder;
using qor::testing::UtcSeconds;
using qor::testing::WriteFile;

bool IsTakeAway(const SyscallEvent& event, const std::string& name) {
  return event.call == "rename" && event.from == name && event.to.starts_with(kTakenPrefix);
}

class CrossMoveSteps : public ::testing::Test {
 protected:
  void SetUp() override {
    if (SameFileSystem(BuildParent(), "/dev/shm")) {
      GTEST_SKIP() << "/dev/shm and the build folder share a file system here";
    }
    for (const char* name : {"a", "b", "c"}) {
      WriteFile(source_.slash() + name, std::string("bytes of ") + name, UtcSeconds(2020, 1, 1));
    }
    // Read (or made, and synced) once per process, before any step counts.
    std::string why;
    ASSERT_NE(UserJournalKey(why), nullptr) << why;
  }

  // Moves `names` through one batch into `relative` below the target.
  void MoveAll(const std::vector<std::string>& names, const std::string& relative = "",
               std::function<void(MoveBatch&)> before_finish = {}) {
    FolderListing listing(source_.path());
    TargetFolder target(target_.path());
    target.KeepJournal(source_.path(), [] { return LogMark{}; });
    ASSERT_TRUE(target.Enter(relative).ok());
    MoveBatch batch([this] { return KeepGoing(); });
    batch.SetJobs(jobs_);
    for (const std::string& name : names) {
      MoveBatch::Steps steps;
      steps.size = walk_sizes_[name];
      steps.entry = name + "      MOVED to   " + target_.slash();
      steps.begin = [] { return true; };
      steps.end = [this, name](Outcome outcome, FileIdentity) { outcomes_[name] = outcome; };
      batch.Move(listing, name, target, std::move(steps));
    }
    if (before_finish) before_finish(batch);
    finished_ = batch.Finish();
  }

  bool KeepGoing() {
    ++asked_;
    return !stop_;
  }
  void ExpectSyncedPlacedThenRemoved(bool remote);

  TempFolder source_{BuildParent()};
  TempFolder target_{"/dev/shm"};
  std::map<std::string, Outcome> outcomes_;
  std::map<std::string, std::uint64_t> walk_sizes_;  // what the walk saw, when not 0
  std::size_t jobs_ = 0;
  bool finished_ = false;
  bool stop_ = false;
  int asked_ = 0;
};

TEST_F(CrossMoveSteps, NoSourceGoesBeforeItsCopyIsSyncedPlacedAndItsFolderSynced) {
  struct Case {
    const char* label;
    bool unnamed;
    bool remote;  // where a sync of the whole file system may not reach the share
  };
  for (const Case& c :
       {Case{"unnamed copies", true, false}, Case{"named temporaries", false, false},
        Case{"onto a share", true, true}}) {
    SCOPED_TRACE(c.label);
    {
      const CopyKind kind(c.unnamed);
      ExpectSyncedPlacedThenRemoved(c.remote);
    }
    for (const std::string name : {"a", "b", "c"}) {
      ::unlink((target_.slash() + name).c_str());
      WriteFile(source_.slash() + name, std::string("bytes of ") + name, UtcSeconds(2020, 1, 1));
    }
  }
}

void CrossMoveSteps::ExpectSyncedPlacedThenRemoved(bool remote) {
  SyscallSeam seam;
  seam.remote = remote;
  MoveAll({"a", "b", "c"});

  const std::vector<SyscallEvent> events = seam.Events();
  const auto at = [&](auto matches) {
    for (std::size_t i = 0; i < events.size(); ++i) {
      if (matches(events[i])) return static_cast<long>(i);
    }
    return -1L;
  };
  const long first_placed = at([](const SyscallEvent& e) {
    return (e.call == "rename" && e.from.starts_with(kTemporaryPrefix)) || e.call == "link";
  });
  const auto copies_synced =
      std::count_if(events.begin(), events.begin() + std::max(first_placed, 0L),
                    [](const SyscallEvent& e) { return e.call == "fsync" && e.from != "folder"; });
  // On a share each copy is synced by itself; elsewhere one sync serves all.
  EXPECT_EQ(copies_synced, remote ? 3 : 0);
  for (const std::string name : {"a", "b", "c"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(outcomes_[name].ok());
    const long synced = at([](const SyscallEvent& e) { return e.call == "syncfs"; });
    const long placed = at([&](const SyscallEvent& e) {
      return (e.call == "rename" && e.from.starts_with(kTemporaryPrefix) && e.to == name) ||
             (e.call == "link" && e.to == name);
    });
    const long taken = at([&](const SyscallEvent& e) { return IsTakeAway(e, name); });
    ASSERT_GE(synced, 0);
    ASSERT_GE(placed, 0);
    EXPECT_LT(synced, placed);
    EXPECT_LT(placed, taken);
    long folder_synced = -1;
    for (long i = placed; i < taken; ++i) {
      if (events[static_cast<std::size_t>(i)].call == "fsync") folder_synced = i;
    }
    EXPECT_GE(folder_synced, 0) << "the new name must be durable before the source goes";
  }
}

// A copy in a folder the run made is on the disk only once that folder's
// name is too: the folder that holds it is synced before a source goes.
TEST_F(CrossMoveSteps, AFolderMadeForTheCopiesIsSyncedInItsParentBeforeASourceGoes) {
  SyscallSeam seam;
  MoveAll({"a", "b", "c"}, "made/");
  ASSERT_TRUE(finished_);
  const std::vector<SyscallEvent> events = seam.Events();
  long last_placed = -1, first_taken = -1;
  for (long i = 0; i < static_cast<long>(events.size()); ++i) {
    const SyscallEvent& e = events[static_cast<std::size_t>(i)];
    if ((e.call == "rename" && e.from.starts_with(kTemporaryPrefix)) || e.call == "link") {
      last_placed = i;
    }
    if (first_taken < 0 && IsTakeAway(e, "a")) first_taken = i;
  }
  ASSERT_GE(last_placed, 0);
  ASSERT_GT(first_taken, last_placed);
  const auto folders_synced =
      std::count_if(events.begin() + last_placed, events.begin() + first_taken,
                    [](const SyscallEvent& e) { return e.call == "fsync" && e.from == "folder"; });
  EXPECT_GE(folders_synced, 2) << "the new folder, and the folder that holds it";
}

TEST_F(CrossMoveSteps, TheCallerHearsThatABatchSettledBeforeItsJournalLetsGo) {
  // What the journal holds, and how many moves had ended, when it is heard.
  std::vector<std::pair<std::size_t, std::uintmax_t>> heard;
  MoveAll({"a", "b", "c"}, "", [&](MoveBatch& batch) {
    batch.WhenSettled([&](bool) {
      std::uintmax_t journal = 0;
      for (const std::string& name : NamesIn(target_.path())) {
        if (name.starts_with(kJournalPrefix)) {
          journal += std::filesystem::file_size(target_.slash() + name);
        }
      }
      heard.emplace_back(outcomes_.size(), journal);
      return true;
    });
  });
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].first, 3u) << "before every move had ended";
  EXPECT_GT(heard[0].second, 0u) << "after the journal let go of the batch";
}

// Where the caller cannot bring its record of a batch to the disk, the
// journal keeps naming the batch: a later run logs it after a power cut.
TEST_F(CrossMoveSteps, AJournalKeepsABatchWhoseMovesTheCallerCouldNotRecord) {
  std::map<bool, std::uintmax_t> journal_at_second_batch;
  for (const bool recorded : {true, false}) {
    FolderListing listing(source_.path());
    TargetFolder target(target_.path());
    target.KeepJournal(source_.path(), [] { return LogMark{}; });
    ASSERT_TRUE(target.Enter("").ok());
    MoveBatch batch([] { return true; });
    int batches = 0;
    batch.WhenSettled([&](bool) {
      if (++batches == 2) {
        for (const std::string& name : NamesIn(target_.path())) {
          if (name.starts_with(kJournalPrefix)) {
            journal_at_second_batch[recorded] = std::filesystem::file_size(target_.slash() + name);
          }
        }
      }
      return recorded;
    });
    for (const char* name : {"a", "b"}) {
      MoveBatch::Steps steps;
      steps.entry = std::string(name) + "      MOVED to   " + target_.slash();
      steps.begin = [] { return true; };
      steps.end = [](Outcome outcome, FileIdentity) { EXPECT_TRUE(outcome.ok()); };
      batch.Move(listing, name, target, std::move(steps));
      ASSERT_TRUE(batch.Finish());  // one batch each
    }
    for (const std::string& name : NamesIn(target_.path()))
      std::filesystem::remove(target_.slash() + name);
    WriteFile(source_.slash() + "a", "bytes of a", UtcSeconds(2020, 1, 1));
    WriteFile(source_.slash() + "b", "bytes of b", UtcSeconds(2020, 1, 1));
  }
  EXPECT_GT(journal_at_second_batch[false], journal_at_second_batch[true])
      << "the first batch's records are still there";
}

TEST_F(CrossMoveSteps, ANameTakenWhileTheBatchWaitsIsNeverReplaced) {
  MoveAll({"a", "b"}, "", [&](MoveBatch&) {
    WriteFile(target_.slash() + "a", "the user's own", UtcSeconds(2022, 1, 1));
  });
  EXPECT_EQ(outcomes_["a"].error, EEXIST);
  EXPECT_EQ(ReadFile(target_.slash() + "a"), "the user's own");
  EXPECT_EQ(ReadFile(source_.slash() + "a"), "bytes of a");
  EXPECT_TRUE(outcomes_["b"].ok());
  EXPECT_EQ(NamesIn(target_.path()), (std::set<std::string>{"a", "b"}));
}

TEST_F(CrossMoveSteps, ASourceRemovedByAnotherOnceItsCopyIsInPlaceLeavesTheCopy) {
  MoveAll({"a", "b"}, "", [&](MoveBatch&) { std::filesystem::remove(source_.slash() + "a"); });
  EXPECT_TRUE(outcomes_["a"].ok());
  EXPECT_EQ(ReadFile(target_.slash() + "a"), "bytes of a");
  EXPECT_TRUE(outcomes_["b"].ok());
}

TEST_F(CrossMoveSteps, ASourceChangedAsItIsTakenAwayStaysAndSaysWhereItIs) {
  struct Case {
    const char* label;
    bool name_taken_again;  // a new file saved under its name before it could go back
  };
  for (const Case& c : {Case{"put back", false}, Case{"kept hidden", true}}) {
    SCOPED_TRACE(c.label);
    WriteFile(source_.slash() + "a", "bytes of a", UtcSeconds(2020, 1, 1));
    outcomes_.clear();
    SyscallSeam seam;
    std::string taken;
    seam.before = [&](const SyscallEvent& e) {
      if (IsTakeAway(e, "a")) {
        // Written after the last check of its change time, just before it goes.
        WriteFile(source_.slash() + "a", "saved again", UtcSeconds(2020, 1, 2));
        taken = e.to;
      } else if (c.name_taken_again && e.call == "rename" && e.from == taken && e.to == "a") {
        WriteFile(source_.slash() + "a", "newest", UtcSeconds(2020, 1, 3));
      }
    };
    MoveAll({"a"});

    EXPECT_EQ(outcomes_["a"].error, kChangedDuringMove);
    EXPECT_FALSE(Exists(target_.slash() + "a"));
    if (c.name_taken_again) {
      EXPECT_EQ(outcomes_["a"].kept_as, taken);
      EXPECT_EQ(ReadFile(source_.slash() + taken), "saved again");
      EXPECT_EQ(ReadFile(source_.slash() + "a"), "newest");
      EXPECT_NE(OutcomeText(outcomes_["a"]).find(taken), std::string::npos);
      std::filesystem::remove(source_.slash() + taken);
    } else {
      EXPECT_EQ(outcomes_["a"].kept_as, "");
      EXPECT_EQ(ReadFile(source_.slash() + "a"), "saved again");
    }
  }
}

// Copies side by side are handed out ahead of the walk: the sizes it saw
// hold the batch to its bytes before any copy is made.
TEST_F(CrossMoveSteps, ABatchEndsOnceTheSizesTheWalkSawFillIt) {
  for (const std::size_t jobs : {1, 8}) {
    SCOPED_TRACE(jobs);
    jobs_ = jobs;
    walk_sizes_["a"] = kBatchBytes;
    outcomes_.clear();
    MoveAll({"a", "b"}, "", [&](MoveBatch&) {
      ASSERT_EQ(outcomes_.count("a"), 1u) << "the batch held more than its bytes";
      EXPECT_TRUE(outcomes_["a"].ok());
      EXPECT_EQ(outcomes_.count("b"), 0u);
    });
    EXPECT_TRUE(outcomes_["b"].ok());
    for (const std::string name : {"a", "b"}) {
      ::unlink((target_.slash() + name).c_str());
      WriteFile(source_.slash() + name, std::string("bytes of ") + name, UtcSeconds(2020, 1, 1));
    }
  }
}

// A copy that changes between being placed and its source going (a bad
// disk, a faulty driver, another program) keeps its source when the copies
// are verified; without verifying, the source goes and the damage stays.
TEST_F(CrossMoveSteps, AVerifiedCopyThatDiffersGoesAndItsSourceStays) {
  for (const bool verify : {true, false}) {
    SCOPED_TRACE(verify ? "verified" : "not verified");
    const std::string name = verify ? "a" : "b";
    SyscallSeam seam;
    bool damaged = false;
    seam.before = [&](const SyscallEvent& event) {
      // The folder's sync after the copy took its name: same size and time,
      // other bytes.
      if (damaged || event.call != "fsync" || !Exists(target_.slash() + name)) return;
      WriteFile(target_.slash() + name, "BYTES OF " + name, UtcSeconds(2020, 1, 1));
      damaged = true;
    };
    // "c" goes along once, to show the rest of the batch unharmed.
    const std::vector<std::string> names =
        verify ? std::vector<std::string>{name, "c"} : std::vector<std::string>{name};
    MoveAll(names, "", [&](MoveBatch& batch) {
      if (verify) batch.VerifyCopies();
    });
    ASSERT_TRUE(damaged);
    if (verify) {
      EXPECT_EQ(outcomes_[name].error, kCopyDiffers);
      EXPECT_EQ(ReadFile(source_.slash() + name), "bytes of " + name);
      EXPECT_FALSE(Exists(target_.slash() + name));
      EXPECT_TRUE(outcomes_["c"].ok());
    } else {
      EXPECT_TRUE(outcomes_[name].ok());
      EXPECT_FALSE(Exists(source_.slash() + name));
    }
  }
}

TEST_F(CrossMoveSteps, TheWindowLivesOnWhileASyncItStoppedRunsToItsEnd) {
  SyscallSeam seam;
  seam.before = [&](const SyscallEvent& e) {
    if (e.call != "syncfs") return;
    stop_ = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
  };
  MoveAll({"a", "b"});

  EXPECT_FALSE(finished_);
  EXPECT_GE(asked_, 3) << "asked only until it said stop";
  EXPECT_EQ(NamesIn(target_.path()), std::set<std::string>{});
  EXPECT_EQ(ReadFile(source_.slash() + "b"), "bytes of b");
}

TEST_F(CrossMoveSteps, AFolderWhoseDescriptorCouldNotBeSharedFailsWithItsOwnReason) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' own checks need descriptors while none is to be had";
#endif
  std::filesystem::create_directory(target_.slash() + "other");
  FolderListing listing(source_.path());
  TargetFolder target(target_.path());
  MoveBatch batch([] { return true; });
  const auto move = [&](const std::string& name) {
    MoveBatch::Steps steps;
    steps.begin = [] { return true; };
    steps.end = [this, name](Outcome outcome, FileIdentity) { outcomes_[name] = outcome; };
    batch.Move(listing, name, target, std::move(steps));
  };
  ASSERT_TRUE(target.Enter("").ok());
  // No descriptor to be had while "a" is asked for: its folders cannot be
  // shared. "b" comes after, into the same folders, with errno reset; "c"
  // into another folder of the same file system.
  struct rlimit limit;
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  const int lowest_free = ::dup(0);
  ::close(lowest_free);
  struct rlimit none = limit;
  none.rlim_cur = static_cast<rlim_t>(lowest_free);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
  move("a");
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
  errno = 0;
  move("b");
  ASSERT_TRUE(target.Enter("other/").ok());
  move("c");
  EXPECT_TRUE(batch.Finish());

  EXPECT_EQ(outcomes_["a"].error, EMFILE);
  for (const char* moved : {"b", "c"}) {
    EXPECT_TRUE(outcomes_[moved].ok()) << moved << ": " << ErrorText(outcomes_[moved].error);
  }
  EXPECT_EQ(ReadFile(target_.slash() + "other/c"), "bytes of c");
  EXPECT_EQ(ReadFile(source_.slash() + "a"), "bytes of a");
}

TEST_F(CrossMoveSteps, EveryNameOfAFileWithSeveralArrives) {
  // "a" gets two further names; removing one name is no change of the file.
  std::filesystem::create_hard_link(source_.slash() + "a", source_.slash() + "a2");
  std::filesystem::create_hard_link(source_.slash() + "a", source_.slash() + "a3");
  MoveAll({"a", "a2", "a3", "b"});
  for (const char* name : {"a", "a2", "a3"}) {
    EXPECT_TRUE(outcomes_[name].ok()) << name << ": " << OutcomeText(outcomes_[name]);
    EXPECT_EQ(ReadFile(target_.slash() + name), "bytes of a") << name;
  }
  EXPECT_EQ(NamesIn(source_.path()), std::set<std::string>{"c"});
}

TEST_F(CrossMoveSteps, CopiesSideBySideEndInTheOrderAskedAndAStopLeavesNothingHalfDone) {
  // 60 files; the 20th has its name taken in the target already. With
  // `stop`, each copy is slow and the caller says stop when first asked.
  struct Case {
    std::size_t jobs;
    bool stop;
  };
  for (const Case c : {Case{1, false}, Case{8, false}, Case{8, true}}) {
    SCOPED_TRACE("jobs " + std::to_string(c.jobs) + (c.stop ? ", stopped" : ""));
    TempFolder from(BuildParent()), to("/dev/shm");
    std::vector<std::string> names;
    for (int i = 0; i < 60; ++i) {
      names.push_back(std::to_string(100 + i).insert(0, 1, 'f'));
      WriteFile(from.slash() + names.back(), "bytes of " + names.back(), UtcSeconds(2020, 1, 1));
    }
    WriteFile(to.slash() + names[19], "the user's own", UtcSeconds(2022, 1, 1));
    SyscallSeam seam;
    std::atomic<std::size_t> copies_timed = 0;  // copies that got as far as their times
    seam.before = [&](const SyscallEvent& e) {
      if (c.stop && e.call == "times") {
        ++copies_timed;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
      }
    };
    FolderListing listing(from.path());
    TargetFolder target(to.path());
    ASSERT_TRUE(target.Enter("").ok());
    MoveBatch batch([&] { return !c.stop; });
    batch.SetJobs(c.jobs);
    std::vector<std::string> ended;
    std::map<std::string, Outcome> outcomes;
    bool went_on = true;
    for (const std::string& name : names) {
      MoveBatch::Steps steps;
      steps.begin = [] { return true; };
      steps.end = [&, name](Outcome outcome, FileIdentity) {
        ended.push_back(name);
        outcomes[name] = outcome;
      };
      if (!(went_on = batch.Move(listing, name, target, std::move(steps)))) break;
    }
    if (went_on) went_on = batch.Finish();

    EXPECT_EQ(went_on, !c.stop);
    EXPECT_TRUE(std::is_sorted(ended.begin(), ended.end())) << "steps out of the order asked";
    EXPECT_EQ(ReadFile(to.slash() + names[19]), "the user's own");
    for (const std::string& name : names) {
      const bool moved = outcomes.count(name) != 0 && outcomes[name].ok();
      EXPECT_NE(Exists(from.slash() + name), moved) << name;
      if (moved) {
        EXPECT_EQ(ReadFile(to.slash() + name), "bytes of " + name);
      }
    }
    std::set<std::string> in_target;  // the run's journal aside
    for (const std::string& name : NamesIn(to.path())) {
      if (!name.starts_with(kJournalPrefix)) in_target.insert(name);
    }
    if (c.stop) {
      EXPECT_EQ(in_target, std::set<std::string>{names[19]}) << "a copy stayed";
      EXPECT_LE(copies_timed, 2 * c.jobs) << "the copies went on after the stop";
    } else {
      EXPECT_EQ(ended.size(), names.size());
      EXPECT_EQ(outcomes[names[19]].error, EEXIST);
      EXPECT_EQ(in_target, std::set<std::string>(names.begin(), names.end()));
    }
  }
}

TEST(SameSystemMoveSteps, AFolderSwappedInJustBeforeTheRenameIsPutBack) {
  TempFolder source, target;
  WriteFile(source.slash() + "a", "a file", UtcSeconds(2020, 1, 1));
  SyscallSeam seam;
  bool swapped = false;
  seam.before = [&](const SyscallEvent& e) {
    if (swapped || e.call != "rename" || e.from != "a" || e.to != "a") return;
    swapped = true;
    std::filesystem::remove(source.slash() + "a");
    std::filesystem::create_directory(source.slash() + "a");
    WriteFile(source.slash() + "a/inside", "a folder's file", UtcSeconds(2020, 1, 1));
  };
  FolderListing listing(source.path());
  TargetFolder into(target.path());
  ASSERT_TRUE(into.Enter("").ok());

  EXPECT_EQ(into.MoveHere(listing, "a").error, EISDIR);
  EXPECT_EQ(ReadFile(source.slash() + "a/inside"), "a folder's file");
  EXPECT_EQ(NamesIn(target.path()), std::set<std::string>{});
}

// Renames are on the disk in the system's own time: before the caller hears
// that a batch of them is durable (and brings its log there), the journal
// naming them is synced, then the file system, or on a share each folder a
// file went into, and only then each folder it left: a power cut between
// leaves a file under both names, never under none, nor a log naming a move
// that the cut undid.
TEST(SameSystemMoveSteps, RenamesAreOnTheDiskBeforeTheCallerHearsThemDurable) {
  for (const bool remote : {false, true}) {
    SCOPED_TRACE(remote ? "on a share" : "on a local disk");
    TempFolder source, target;
    std::filesystem::create_directory(source.slash() + "sub");
    for (const char* name : {"sub/a", "sub/b"}) {
      WriteFile(source.slash() + name, name, UtcSeconds(2020, 1, 1));
    }
    std::string why;
    ASSERT_NE(UserJournalKey(why), nullptr) << why;
    SyscallSeam seam;
    seam.remote = remote;
    std::vector<std::pair<bool, std::size_t>> heard;  // durable, events by then
    {
      FolderListing root(source.path());
      FolderListing sub(root, "sub");
      TargetFolder into(target.path());
      into.KeepJournal(source.path(), [] { return LogMark{}; });
      ASSERT_TRUE(into.Enter("sub/").ok());
      MoveBatch batch([] { return true; });
      batch.WhenSettled([&](bool durable) {
        heard.emplace_back(durable, seam.Events().size());
        return true;
      });
      for (const char* name : {"a", "b"}) {
        MoveBatch::Steps steps;
        steps.entry = std::string("sub/") + name + "      MOVED to   " + target.slash();
        steps.begin = steps.begin_later = [] { return true; };
        steps.end = [](Outcome outcome, FileIdentity) { EXPECT_TRUE(outcome.ok()); };
        ASSERT_TRUE(batch.Move(sub, name, into, std::move(steps)));
      }
      ASSERT_TRUE(batch.Finish());
    }
    ASSERT_FALSE(heard.empty());
    ASSERT_TRUE(heard.back().first) << "the renames were never heard of as durable";
    const std::vector<SyscallEvent> events = seam.Events();
    long last_rename = -1, journal_synced = -1, whole_synced = -1;
    std::vector<std::pair<long, std::string>> folders_synced;
    for (long i = 0; i < static_cast<long>(heard.back().second); ++i) {
      const SyscallEvent& e = events[static_cast<std::size_t>(i)];
      if (e.call == "rename" && (e.from == "a" || e.from == "b")) last_rename = i;
      if (last_rename < 0) continue;
      if (e.call == "fdatasync" && journal_synced < 0) journal_synced = i;
      if (e.call == "syncfs") whole_synced = i;
      if (e.call == "fsync" && e.from == "folder") folders_synced.emplace_back(i, e.to);
    }
    ASSERT_GE(last_rename, 0);
    if (!remote) {
      EXPECT_GT(whole_synced, journal_synced);
      EXPECT_GT(journal_synced, last_rename);
      continue;
    }
    const auto synced_at = [&](const std::string& folder) {
      for (const auto& [at, path] : folders_synced) {
        if (std::filesystem::equivalent(path, folder)) return at;
      }
      return -1L;
    };
    const long gained = synced_at(target.slash() + "sub"), lost = synced_at(source.slash() + "sub");
    EXPECT_GT(journal_synced, last_rename);
    EXPECT_GT(gained, journal_synced) << "the folder the files went into";
    EXPECT_GT(lost, gained) << "the folder they left, after";
  }
}

TEST(TargetFolderSteps, OnlyPlainNamesAreSteppedInto) {
  TempFolder parent;
  const std::string root = parent.slash() + "root";
  std::filesystem::create_directory(root);
  TargetFolder target(root);
  for (const char* relative : {"../escaped/", "./x/../../escaped/", "a/../../escaped/"}) {
    EXPECT_EQ(target.Enter(relative).error, EINVAL) << relative;
    EXPECT_EQ(target.Probe(relative, "f").error, EINVAL) << relative;
  }
  EXPECT_FALSE(Exists(parent.slash() + "escaped"));
}

TEST(TargetFolderSteps, APreviewFindsEveryTakenNameWhicheverItLooksUpFirst) {
  TempFolder root;
  std::filesystem::create_directories(root.slash() + "sub");
  for (const char* name : {"b", "d", ".hidden"}) WriteFile(root.slash() + "sub/" + name, "x", 0);
  std::filesystem::create_symlink("nowhere", root.slash() + "sub/link");
  TargetFolder target(root.path());
  const std::vector<std::pair<std::string, int>> looks = {
      {"a", 0}, {"b", EEXIST}, {"c", 0}, {"d", EEXIST}, {".hidden", EEXIST}, {"link", EEXIST}};
  for (const auto& [name, error] : looks) {
    EXPECT_EQ(target.Probe("sub/", name).error, error) << name;
  }
  EXPECT_EQ(target.Probe("missing/", "b").error, 0) << "a folder still to be made holds nothing";
  EXPECT_EQ(target.Probe("sub/", "b").error, EEXIST) << "back in a folder looked at before";
}

// On a share the details of a folder's entries are read ahead, side by side:
// the walk must still see every entry once, with the same details, also when
// the listing is parked part-way.
TEST(FolderListingAhead, OnAShareEveryEntryComesOnceWithItsDetails) {
  TempFolder folder(BuildParent());
  // Named so that the seam sees their look-ups.
  for (int i = 0; i < 70; ++i) {
    WriteFile(folder.slash() + ".qor-f" + std::to_string(i),
              std::string(static_cast<std::size_t>(i), 'x'),
              UtcSeconds(2000 + i % 20, 1 + i % 12, 1 + i % 28));
  }
  for (const char* name : {"sub1", "sub2"}) ::mkdir((folder.slash() + name).c_str(), 0755);
  ASSERT_EQ(::symlink(".qor-f1", (folder.slash() + "link").c_str()), 0);
  const auto list = [&](bool remote, int park_after) {
    SyscallSeam seam;
    seam.remote = remote;
    std::mutex mutex;
    std::set<std::thread::id> looking_up;
    seam.before = [&](const SyscallEvent& e) {
      if (e.call != "stat") return;
      {
        const std::lock_guard lock(mutex);
        looking_up.insert(std::this_thread::get_id());
      }
      // A round trip, as on a share.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    FolderListing listing(folder.path());
    std::vector<std::string> seen;
    FolderEntry entry;
    for (int n = 0; listing.Next(entry); ++n) {
      if (n == park_after) listing.Park();
      seen.push_back(entry.name + (entry.is_folder ? "/" : "") + " " +
                     std::to_string(entry.has_details) + " " + std::to_string(entry.year) + "-" +
                     std::to_string(entry.month) + "-" + std::to_string(entry.day) + " " +
                     std::to_string(entry.size));
    }
    EXPECT_EQ(listing.DetailError(), 0);
    EXPECT_EQ(looking_up.size() > 1, remote) << "look-ups side by side only on a share";
    return seen;
  };
  const std::vector<std::string> local = list(false, -1);
  ASSERT_EQ(local.size(), 75u);  // with "." and ".."
  for (const int park_after : {-1, 0, 40}) {
    SCOPED_TRACE(park_after);
    EXPECT_EQ(list(true, park_after), local);
  }
}

}  // namespace
}  // namespace qor::platform
