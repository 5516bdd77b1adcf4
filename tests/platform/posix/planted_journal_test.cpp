// Files named like a killed run's journal that this program did not make for
// the folder that holds them: anyone can drop one into a shared folder, and
// none of them may make a run remove, rename or log anything.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/journal_records.h"
#include "support/fake_recovery_log.h"
#include "support/sealed_journal.h"
#include "support/temp_tree.h"

namespace qor::platform {
namespace {

using qor::testing::FakeRecoveryLog;
using qor::testing::ReadFile;
using qor::testing::Sealed;
using qor::testing::TempFolder;
using qor::testing::UtcSeconds;
using qor::testing::WriteFile;

constexpr char kJournal[] = ".qor-journal-0123456789ab";
constexpr char kTemporary[] = ".qor-part-0123456789ab";

class PlantedJournal : public ::testing::Test {
 public:
  void SetUp() override {
    // A file of the user's with an equal copy in place: what a killed run
    // leaves, and what a planted journal would have removed.
    WriteFile(source_.slash() + "f", "bytes", UtcSeconds(2020, 1, 1));
    WriteFile(target_.slash() + "f", "bytes", UtcSeconds(2020, 1, 1));
    WriteFile(target_.slash() + "notes.txt", "the user's", UtcSeconds(2020, 1, 1));
  }

  std::string Entry(const std::string& relative) const {
    return relative + "      MOVED to   " + target_.slash();
  }
  std::string Roots() const { return RootsRecord(source_.slash(), target_.slash()); }
  std::string Placing() const { return PlacingRecord("", "", "f", Entry("f")); }

  // Plants `text`, sealed as a run of this user seals it, as the journal,
  // private to this user, then lets `change` alter it.
  void Plant(const std::string& text, const std::function<void(const std::string&)>& change) {
    PlantAsIs(Sealed(text), change);
  }
  void PlantAsIs(const std::string& text, const std::function<void(const std::string&)>& change) {
    const std::string path = target_.slash() + kJournal;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
    if (change) change(path);
  }

  TempFolder source_;
  TempFolder target_;
};

TEST_F(PlantedJournal, OnlyAJournalWhollyAsThisProgramWritesOneIsActedOn) {
  const auto none = [](const std::string&) {};
  struct Case {
    const char* label;
    std::function<std::string(const PlantedJournal&)> text;
    std::function<void(const std::string&)> change;
    bool acted_on;
    bool sealed = true;  // as a run of this user seals it; else as it stands
  };
  // What anyone who can write into the folder can make where the file
  // system shows every file as the runner's, private (rclone, FAT): records
  // sealed with a key of their own, or this user's records moved about.
  JournalKey stranger;
  stranger.bytes.fill(7);
  // Each record sealed as the next of one journal.
  const auto each = [](std::vector<std::string> records) {
    std::string why, chain;
    const JournalKey* key = UserJournalKey(why);
    for (std::string& record : records) record = SealRecords(*key, record, chain);
    return records;
  };
  const std::string other = source_.slash() + "elsewhere/";
  std::filesystem::create_directory(other);
  const Case cases[] = {
      {"as a run writes it", [](const auto& t) { return t.Roots() + t.Placing(); }, none, true},
      {"an absolute path in a record",
       [&](const auto& t) {
         return t.Roots() + PlacingRecord(t.source_.slash(), "", "f", t.Entry("f"));
       },
       none, false},
      {"a way up out of its roots",
       [](const auto& t) { return t.Roots() + PlacingRecord("../", "", "f", t.Entry("../f")); },
       none, false},
      {"made for another folder",
       [&](const auto& t) { return RootsRecord(t.source_.slash(), other) + t.Placing(); }, none,
       false},
      {"source and copy one file",
       [](const auto& t) {
         return RootsRecord(t.target_.slash(), t.target_.slash()) + t.Placing();
       },
       none, false},
      {"a line break in the entry",
       [](const auto& t) {
         return t.Roots() + PlacingRecord("", "", "f", t.Entry("f") + "\r\nkey      MOVED to   /");
       },
       none, false},
      {"a record cut short, and more after it",
       [](const auto& t) { return t.Roots() + std::string("P\0\0\0f\0", 6) + t.Placing(); }, none,
       false},
      {"zero bytes after its last whole record, as a power cut leaves them",
       [](const auto& t) { return t.Roots() + t.Placing() + std::string(3000, '\0'); }, none, true},
      {"zero bytes within a record",
       [](const auto& t) { return t.Roots() + t.Placing().substr(0, 4) + std::string(3000, '\0'); },
       none, false},
      {"a temporary named as the user's file",
       [](const auto& t) { return t.Roots() + TemporaryRecord("", "notes.txt"); }, none, false},
      {"a private name the run never gives",
       [](const auto& t) {
         return t.Roots() + TakingAwayRecord("", "", "f", t.Entry("f"), "notes.txt");
       },
       none, false},
      {"a copy begun, named as the user's file",
       [](const auto& t) { return t.Roots() + WritingRecord("", "", "notes.txt") + t.Placing(); },
       none, true},
      {"a probe's temporary a way up out of the source",
       [](const auto& t) {
         return t.Roots() + SourceTemporaryRecord("../", ".qor-part-0123456789ab");
       },
       none, false},
      {"a copy begun a way up",
       [](const auto& t) { return t.Roots() + WritingRecord("../", "", "notes.txt"); }, none,
       false},
      {"a rename a way up out of its roots",
       [](const auto& t) {
         return t.Roots() + RenamingRecord("../", "", "f", t.Entry("../f"), {1, 2});
       },
       none, false},
      {"a rename whose file is no number",
       [](const auto& t) {
         return t.Roots() + std::string("N\0\0\0f\0", 6) + t.Entry("f") +
                std::string(
                    "\0-1\0"
                    "2\0",
                    6);
       },
       none, false},
      {"readable by others", [](const auto& t) { return t.Roots() + t.Placing(); },
       [](const std::string& path) { ::chmod(path.c_str(), 0644); }, false},
      {"a second name", [](const auto& t) { return t.Roots() + t.Placing(); },
       [](const std::string& path) { ::link(path.c_str(), (path + "-twin").c_str()); }, false},
      {"larger than any journal", [](const auto& t) { return t.Roots() + t.Placing(); },
       [](const std::string& path) { ::truncate(path.c_str(), 3LL << 30); }, false},
      {"a named pipe", [](const auto&) { return std::string(); },
       [](const std::string& path) {
         ::unlink(path.c_str());
         ::mkfifo(path.c_str(), 0600);
       },
       false},
      {"a named pipe as a journal in the making", [](const auto&) { return std::string(); },
       [](const std::string& path) {
         ::unlink(path.c_str());
         ::mkfifo((path.substr(0, path.rfind('/') + 1) + ".qor-journal-new-0123456789ab").c_str(),
                  0600);
       },
       false},
      {"a link to a journal elsewhere", [](const auto& t) { return t.Roots() + t.Placing(); },
       [](const std::string& path) {
         std::filesystem::rename(path, path + "-real");
         std::filesystem::create_symlink(path + "-real", path);
       },
       false},
      {"another user's", [](const auto& t) { return t.Roots() + t.Placing(); },
       [](const std::string& path) { ::chown(path.c_str(), 1001, 1001); }, false},
      {"sealed with another key",
       [&](const auto& t) { return Sealed(t.Roots() + t.Placing(), &stranger); }, none, false,
       false},
      {"not sealed", [](const auto& t) { return t.Roots() + t.Placing(); }, none, false, false},
      {"records in another order",
       [&](const auto& t) {
         const auto sealed = each({t.Roots(), TemporaryRecord("", kTemporary), t.Placing()});
         return sealed[0] + sealed[2] + sealed[1];
       },
       none, false, false},
      {"a record of another journal of these folders",
       [&](const auto& t) {
         return each({t.Roots()})[0] + each({t.Roots(), t.Placing()})[1];
       },
       none, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (std::string(c.label) == "another user's" && ::geteuid() != 0) continue;
    PlantAsIs(c.sealed ? Sealed(c.text(*this)) : c.text(*this), c.change);

    FakeRecoveryLog log;
    const Recovery recovery = RecoverKilledRuns(target_.path(), log);

    bool journal_left = false;
    for (const auto& entry : std::filesystem::directory_iterator(target_.path())) {
      journal_left = journal_left || entry.path().filename().string().starts_with(".qor-journal-");
    }
    EXPECT_EQ(ReadFile(target_.slash() + "notes.txt"), "the user's");
    if (c.acted_on) {
      EXPECT_FALSE(std::filesystem::exists(source_.slash() + "f"));
      EXPECT_EQ(log.written, std::vector<std::string>{Entry("f")});
      EXPECT_FALSE(journal_left);
      WriteFile(source_.slash() + "f", "bytes", UtcSeconds(2020, 1, 1));
    } else {
      EXPECT_EQ(ReadFile(source_.slash() + "f"), "bytes");
      EXPECT_TRUE(log.written.empty());
      EXPECT_TRUE(journal_left);
      EXPECT_EQ(recovery.refused.size(), 1u);
    }
    for (const auto& entry : std::filesystem::directory_iterator(target_.path())) {
      if (entry.path().filename().string().starts_with(".qor-journal-")) {
        std::filesystem::remove(entry.path());
      }
    }
  }
}

TEST_F(PlantedJournal, ACopyBegunUnderItsNameGoesOnlyWhileItHoldsTheStartOfItsSource) {
  struct Case {
    const char* name;
    const char* source;
    const char* copy;
    bool goes;
    bool name_taken = false;  // the run found the name taken when it made the copy
  };
  const Case cases[] = {
      {"cut short", "0123456789", "01234", true},
      {"whole", "0123456789", "0123456789", true},
      {"other bytes", "0123456789", "01x34", false},
      {"longer than its source", "0123", "01234", false},
      {"another's empty file", "0123456789", "", false, true},
  };
  std::string records = Roots();
  for (const Case& c : cases) {
    WriteFile(source_.slash() + c.name, c.source, UtcSeconds(2020, 1, 1));
    WriteFile(target_.slash() + c.name, c.copy, UtcSeconds(2020, 1, 1));
    records += WritingRecord("", "", c.name);
    if (c.name_taken) records += NameTakenRecord("", "", c.name);
  }
  Plant(records, {});
  FakeRecoveryLog log;
  const Recovery recovery = RecoverKilledRuns(target_.path(), log);
  EXPECT_TRUE(recovery.refused.empty()) << recovery.refused[0].why;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadFile(source_.slash() + c.name), c.source);
    EXPECT_EQ(std::filesystem::exists(target_.slash() + c.name), !c.goes);
  }
  EXPECT_TRUE(log.written.empty());
  EXPECT_FALSE(std::filesystem::exists(target_.slash() + kJournal));
}

// Moved by a hard link and the removal of the old name (sshfs): a kill
// between the two leaves both names and the file's log entry begun.
TEST_F(PlantedJournal, AFileInFlightFoundUnderBothNamesIsFinishedOnlyWhenBothAreEqual) {
  for (const bool equal : {true, false}) {
    SCOPED_TRACE(equal ? "equal" : "another file at its new place");
    WriteFile(target_.slash() + "f", equal ? "bytes" : "other", UtcSeconds(2020, 1, 1));
    const std::string log_path = target_.slash() + "run-log.txt";
    WriteFile(log_path, "f", UtcSeconds(2020, 1, 1));
    struct stat log_state;
    ASSERT_EQ(::stat(log_path.c_str(), &log_state), 0);
    const LogMark mark{log_path,
                       {static_cast<std::uint64_t>(log_state.st_dev),
                        static_cast<std::uint64_t>(log_state.st_ino)},
                       0};
    Plant(Roots() + LogRecord(mark), {});
    FakeRecoveryLog log;
    EXPECT_TRUE(RecoverKilledRuns(target_.path(), log).refused.empty());
    EXPECT_EQ(std::filesystem::exists(source_.slash() + "f"), !equal);
    EXPECT_EQ(ReadFile(target_.slash() + "f"), equal ? "bytes" : "other");
    EXPECT_EQ(log.written,
              equal ? std::vector<std::string>{Entry("f")} : std::vector<std::string>{});
    WriteFile(source_.slash() + "f", "bytes", UtcSeconds(2020, 1, 1));
  }
}

// A run's log mark can be taken while the entry of its file in flight is
// being written: an entry the log holds whole is not written again by the
// run that finishes the move, wherever in it the mark fell.
TEST_F(PlantedJournal, AMoveTheKilledRunsLogHoldsIsNotLoggedAgain) {
  const std::string earlier = "e      MOVED to   " + target_.slash() + "\r\n";
  for (const std::size_t into : {std::size_t{0}, std::size_t{1}, Entry("f").size()}) {
    SCOPED_TRACE(into);
    const std::string log_path = target_.slash() + "run-log.txt";
    WriteFile(log_path, earlier + Entry("f") + "\r\n", UtcSeconds(2020, 1, 1));
    struct stat log_state;
    ASSERT_EQ(::stat(log_path.c_str(), &log_state), 0);
    const LogMark mark{log_path,
                       {static_cast<std::uint64_t>(log_state.st_dev),
                        static_cast<std::uint64_t>(log_state.st_ino)},
                       earlier.size() + into};
    ::unlink((source_.slash() + "f").c_str());  // moved before the kill
    Plant(Roots() + LogRecord(mark) + Placing(), {});
    FakeRecoveryLog log;
    EXPECT_TRUE(RecoverKilledRuns(target_.path(), log).refused.empty());
    EXPECT_EQ(ReadFile(target_.slash() + "f"), "bytes");
    EXPECT_EQ(log.written, std::vector<std::string>{});
    ::unlink(log_path.c_str());
  }
}

// What the log held before the mark is no record of this move.
TEST_F(PlantedJournal, ALineLikeTheEntryBeforeTheMarkDoesNotCount) {
  const std::string log_path = target_.slash() + "run-log.txt";
  const std::string before = Entry("f") + "\r\n";
  WriteFile(log_path, before, UtcSeconds(2020, 1, 1));
  struct stat log_state;
  ASSERT_EQ(::stat(log_path.c_str(), &log_state), 0);
  const LogMark mark{
      log_path,
      {static_cast<std::uint64_t>(log_state.st_dev), static_cast<std::uint64_t>(log_state.st_ino)},
      before.size()};
  ::unlink((source_.slash() + "f").c_str());
  Plant(Roots() + LogRecord(mark) + Placing(), {});
  FakeRecoveryLog log;
  EXPECT_TRUE(RecoverKilledRuns(target_.path(), log).refused.empty());
  EXPECT_EQ(log.written, std::vector<std::string>{Entry("f")});
}

// A run that emptied its source folder removes it last; a kill before its
// journal went leaves one naming a folder that is gone: with nothing else
// in it, it goes; with a move in it, it stays for you to see.
TEST_F(PlantedJournal, AJournalWhoseSourceFolderIsGoneGoesOnlyWhenItNamesNothingMore) {
  for (const bool names_a_move : {false, true}) {
    SCOPED_TRACE(names_a_move ? "naming a move" : "naming nothing");
    const std::string gone = source_.slash() + "gone/";
    Plant(RootsRecord(gone, target_.slash()) + (names_a_move ? Placing() : std::string()), {});
    FakeRecoveryLog log;
    const Recovery recovery = RecoverKilledRuns(target_.path(), log);
    EXPECT_EQ(recovery.refused.size(), names_a_move ? 1u : 0u);
    EXPECT_EQ(std::filesystem::exists(target_.slash() + kJournal), names_a_move);
    EXPECT_EQ(ReadFile(target_.slash() + "f"), "bytes");
    std::filesystem::remove(target_.slash() + kJournal);
  }
}

}  // namespace
}  // namespace qor::platform
