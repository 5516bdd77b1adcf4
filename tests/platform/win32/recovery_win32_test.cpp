// A run killed at each step of a move across volumes, and the next run's
// recovery; a live run's work, which recovery never touches.

#include <aclapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/journal_records.h"
#include "platform/move_batch.h"
#include "platform/text_file.h"
#include "platform/win32/listing.h"
#include "platform/win32/run_journal.h"
#include "platform/win32/test_seams.h"
#include "platform/win32/wide.h"
#include "support/fake_recovery_log.h"
#include "support/sealed_journal.h"
#include "support/temp_tree.h"

namespace qor::platform {
namespace {

using Step = test_seams::AcrossVolumesStep;
using testing::FakeRecoveryLog;
using testing::NamesIn;
using testing::ReadFile;
using testing::TempFolder;
using testing::UtcSeconds;
using testing::WriteFile;

constexpr UINT kKilled = 9;

// The run log's entry for `relative` moved, as FakeRecoveryLog takes one.
std::string Entry(const std::string& relative) {
  return relative + "      MOVED to   Q:";
}

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

// The files a killed run moves: "f.txt" alone, or "f1.txt" to "fN.txt".
std::vector<std::string> KilledRunsFiles(int count) {
  if (count <= 1) return {"f.txt"};
  std::vector<std::string> names;
  for (int i = 1; i <= count; ++i) names.push_back("f" + std::to_string(i) + ".txt");
  return names;
}

// This program started again as a run that moves QOR_KILL_FILES files of
// QOR_KILL_FROM into "sub" of QOR_KILL_TO (of its date folder QOR_KILL_DATE
// when given), logging each move in the log QOR_KILL_LOG, and is killed when step QOR_KILL_STEP
// comes for the QOR_KILL_AT-th time: no destructor runs, the system closes its handles.
bool RunAsKilledChild() {
  const std::string step = Variable("QOR_KILL_STEP");
  if (step.empty()) return false;
  static int kill_at = std::atoi(step.c_str());
  static std::atomic<int> left = std::max(1, std::atoi(Variable("QOR_KILL_AT").c_str()));
  test_seams::across_volumes_step = [](Step reached) {
    if (static_cast<int>(reached) == kill_at && --left == 0) {
      ::TerminateProcess(::GetCurrentProcess(), kKilled);
    }
  };
  // A target folder that takes no file of the program's.
  if (!Variable("QOR_KILL_REFUSED").empty()) {
    test_seams::journal_refused = [](const std::wstring& folder) -> DWORD {
      return folder.find(L"\\qor\\journals\\") == std::wstring::npos ? ERROR_ACCESS_DENIED : 0;
    };
  }
  static TextFile log;
  const std::string log_path = Variable("QOR_KILL_LOG");
  if (!log.Create(log_path).ok()) ::ExitProcess(1);
  const std::string date = Variable("QOR_KILL_DATE");
  TargetFolder target(Variable("QOR_KILL_TO") + (date.empty() ? "" : "\\" + date));
  target.KeepJournal(
      Variable("QOR_KILL_FROM"),
      [log_path] {
        return LogMark{RealPath(log_path), log.Identity(), log.Written()};
      },
      !date.empty());
  const FolderListing listing(Variable("QOR_KILL_FROM"));
  MoveBatch batch([] { return true; });
  if (target.Enter("sub\\").ok()) {
    for (const std::string& name : KilledRunsFiles(std::atoi(Variable("QOR_KILL_FILES").c_str()))) {
      const auto end = [name](Outcome outcome, FileIdentity) {
        if (outcome.ok()) log.Write(Entry(name) + "\r\n");
      };
      batch.Move(listing, name, target, {{}, end, Entry(name)});
    }
  }
  batch.Finish();
  ::ExitProcess(0);  // the step never came
}
[[maybe_unused]] const bool kChild = RunAsKilledChild();

// The killed child's log.
std::string KilledLog() {
  static const TempFolder logs;
  return logs.slash() + "log.txt";
}

// Runs the killed child, moving `files` files, and gives its exit code.
DWORD RunKilledAt(Step step, const std::string& from, const std::string& to, int files = 1,
                  int at = 1, const std::string& date = {}, bool refused = false) {
  ::SetEnvironmentVariableW(L"QOR_KILL_REFUSED", refused ? L"1" : nullptr);
  ::SetEnvironmentVariableW(L"QOR_KILL_DATE", Widen(date).c_str());
  ::SetEnvironmentVariableW(L"QOR_KILL_LOG", Widen(KilledLog()).c_str());
  ::SetEnvironmentVariableW(L"QOR_KILL_FILES", std::to_wstring(files).c_str());
  ::SetEnvironmentVariableW(L"QOR_KILL_AT", std::to_wstring(at).c_str());
  ::SetEnvironmentVariableW(L"QOR_KILL_STEP", std::to_wstring(static_cast<int>(step)).c_str());
  ::SetEnvironmentVariableW(L"QOR_KILL_FROM", Widen(from).c_str());
  ::SetEnvironmentVariableW(L"QOR_KILL_TO", Widen(to).c_str());
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_list_tests";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const BOOL started = ::CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &process);
  ::SetEnvironmentVariableW(L"QOR_KILL_STEP", nullptr);
  if (!started) return ::GetLastError();
  DWORD code = 0;
  ::WaitForSingleObject(process.hProcess, 60'000);
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return code;
}

TEST(RecoveryWin32Test, AKillAtEveryStepIsFinishedByTheNextRunAndLeavesNothingOfItsOwn) {
  if (::GetDriveTypeW(L"Q:\\") == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no Q: drive";
  const struct {
    Step step;
    bool changed;  // the source is written to after the kill
    bool refused;  // the target folder took no journal: it is in the user's own folder
  } cases[] = {{Step::Copied, false, false},  {Step::Placing, false, false},
               {Step::Placed, false, false},  {Step::Placed, true, false},
               {Step::Removed, false, false}, {Step::Placing, false, true},
               {Step::Placed, false, true}};
  // This user's own folder, the journals' where a target folder takes none.
  const TempFolder local;
  ::SetEnvironmentVariableW(L"LOCALAPPDATA", Widen(local.path()).c_str());
  const std::string own = local.slash() + "qor\\journals";
  // A run into a date folder keeps its journal in the folder above, where a
  // run of any other date finds it.
  for (const std::string date : {"", "20210615"}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(static_cast<int>(c.step)) + " " + date +
                   (c.refused ? " refused" : ""));
      TempFolder source, target("Q:");
      const std::string top = date.empty() ? "sub" : date;
      const std::string into = target.slash() + (date.empty() ? "" : date + "\\");
      WriteFile(source.slash() + "f.txt", "whole file", UtcSeconds(2021, 6, 15));
      ASSERT_EQ(RunKilledAt(c.step, source.path(), target.path(), 1, 1, date, c.refused), kKilled);
      ASSERT_EQ(NamesIn(target.path()).size(), c.refused ? 1u : 2u)
          << "the killed run's journal is left";
      ASSERT_EQ(NamesIn(own).size(), c.refused ? 1u : 0u) << "in the user's own folder";
      if (c.changed) WriteFile(source.slash() + "f.txt", "changed ...", UtcSeconds(2021, 6, 15));

      FakeRecoveryLog log;
      const Recovery recovery = RecoverKilledRuns(target.path(), log);

      // Only a source still equal to its placed copy goes; a move that left
      // its source before its run could log it is logged now.
      const bool logged = c.step >= Step::Placed && !c.changed;
      EXPECT_EQ(log.written,
                logged ? std::vector<std::string>{Entry("f.txt")} : std::vector<std::string>{});
      EXPECT_EQ(recovery.logged, log.written.size());
      EXPECT_EQ(recovery.left, c.changed ? 1 : 0);
      EXPECT_TRUE(recovery.refused.empty());
      EXPECT_EQ(NamesIn(target.path()), std::set<std::string>{top}) << "the journal went";
      EXPECT_TRUE(NamesIn(own).empty()) << "the journal went";
      std::set<std::string> everywhere = NamesIn(into + "sub");
      for (const std::string& name : NamesIn(source.path())) everywhere.insert("source " + name);
      if (c.changed) {
        EXPECT_EQ(everywhere, (std::set<std::string>{"f.txt", "source f.txt"}));
        EXPECT_EQ(ReadFile(source.slash() + "f.txt"), "changed ...");
        continue;
      }
      const bool moved = c.step >= Step::Placed;
      EXPECT_EQ(everywhere, std::set<std::string>{moved ? "f.txt" : "source f.txt"});
      EXPECT_EQ(ReadFile((moved ? into + "sub\\" : source.slash()) + "f.txt"), "whole file");
    }
  }
}

TEST(RecoveryWin32Test, AKillWithinABatchIsFinishedByTheNextRun) {
  if (::GetDriveTypeW(L"Q:\\") == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no Q: drive";
  // Four files: the first moves alone, the other three in one batch. The
  // kill comes at the `at`-th time of `step`. The killed run logged each
  // move it ended; the recovery logs the others that left their source,
  // also where a later run put the killed run's log aside (the window keeps
  // an earlier log of the day's name under a number), and then drops the
  // piece of an entry a kill cut short at its end.
  const struct {
    Step step;
    int at;
    std::vector<std::string> logged;  // by the recovery
    std::set<std::string> in_target;  // afterwards
    bool aside = false;               // the killed log renamed, another in its place
    bool cut = false;                 // the killed log ends with a piece of an entry
  } cases[] = {
      {Step::Copied, 3, {}, {"f1.txt"}},
      {Step::Placing, 3, {Entry("f2.txt")}, {"f1.txt", "f2.txt"}},
      {Step::Placed,
       3,
       {Entry("f3.txt"), Entry("f4.txt")},
       {"f1.txt", "f2.txt", "f3.txt", "f4.txt"}},
      {Step::Removed,
       3,
       {Entry("f3.txt"), Entry("f4.txt")},
       {"f1.txt", "f2.txt", "f3.txt", "f4.txt"}},
      {Step::Removed,
       3,
       {Entry("f3.txt"), Entry("f4.txt")},
       {"f1.txt", "f2.txt", "f3.txt", "f4.txt"},
       true,
       true},
  };
  const std::vector<std::string> names = KilledRunsFiles(4);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.step)) + " for the " + std::to_string(c.at) +
                 "th time");
    TempFolder source, target("Q:");
    for (const std::string& name : names) {
      WriteFile(source.slash() + name, "whole " + name, UtcSeconds(2021, 6, 15));
    }
    ASSERT_EQ(RunKilledAt(c.step, source.path(), target.path(), 4, c.at), kKilled);
    std::string killed_log = KilledLog();
    if (c.cut) {
      WriteFile(killed_log, ReadFile(killed_log) + Entry("f3").substr(0, 5),
                UtcSeconds(2021, 6, 15));
    }
    if (c.aside) {
      const std::string aside = killed_log.substr(0, killed_log.size() - 4) + "-2.txt";
      ASSERT_TRUE(::MoveFileW(Widen(killed_log).c_str(), Widen(aside).c_str()));
      WriteFile(killed_log, "", UtcSeconds(2021, 6, 15));
      killed_log = aside;
    }

    FakeRecoveryLog log;
    const Recovery recovery = RecoverKilledRuns(target.path(), log);

    EXPECT_EQ(log.written, c.logged);
    EXPECT_TRUE(ReadFile(killed_log).ends_with("\r\n")) << "the piece of an entry stays";
    EXPECT_EQ(recovery.logged, c.logged.size());
    EXPECT_EQ(recovery.left, 0);
    EXPECT_TRUE(recovery.refused.empty());
    EXPECT_EQ(NamesIn(target.path()), std::set<std::string>{"sub"}) << "the journal went";
    EXPECT_EQ(NamesIn(target.slash() + "sub"), c.in_target) << "no temporary stays";
    for (const std::string& name : names) {
      const bool moved = c.in_target.count(name) != 0;
      EXPECT_NE(NamesIn(source.path()).count(name) != 0, moved) << name << " in both or neither";
      EXPECT_EQ(ReadFile((moved ? target.slash() + "sub\\" : source.slash()) + name),
                "whole " + name);
    }
  }
}

TEST(RecoveryWin32Test, ALiveRunsJournalAndWorkAreNeverTouched) {
  TempFolder source, target;
  const std::wstring root = SystemPath(target.slash());
  WriteFile(source.slash() + "f.txt", "copied", UtcSeconds(2021, 6, 15));
  WriteFile(target.slash() + "f.txt", "copied", UtcSeconds(2021, 6, 15));
  WriteFile(target.slash() + ".qor-part-0123456789ab", "in the making", UtcSeconds(2020, 1, 1));
  {
    const Handle root_handle = OpenFolder(root, true);
    RunJournal live(root, root_handle.get(), source.path(), [] { return FakeRecoveryLog().mark; });
    live.Temporary(root + L".qor-part-0123456789ab");
    live.Placing(SystemPath(source.slash() + "f.txt"), root + L"f.txt", Entry("f.txt"));
    live.Sync();
    EXPECT_EQ(live.Problem(), "");
    const std::set<std::string> before = NamesIn(target.path());
    ASSERT_EQ(before.size(), 3u) << "the copy, the temporary and the journal";

    FakeRecoveryLog log;
    const Recovery recovery = RecoverKilledRuns(target.path(), log);

    EXPECT_EQ(recovery.logged, 0u);
    EXPECT_TRUE(recovery.refused.empty()) << "a live run's journal is no stranger's";
    EXPECT_EQ(NamesIn(target.path()), before);
    EXPECT_EQ(NamesIn(source.path()), std::set<std::string>{"f.txt"});
  }
  EXPECT_EQ(NamesIn(target.path()), (std::set<std::string>{".qor-part-0123456789ab", "f.txt"}))
      << "a run that ends takes its journal with it";
}

// Writes `text` into a new file `path`, private to this user, as a run
// makes its journal, and sealed as a run of this user seals it unless `seal`
// is false.
void PlantJournal(const std::string& path, std::string text, bool seal = true) {
  if (seal) text = testing::Sealed(text);
  const Handle file = CreateJournalFile(SystemPath(path));
  DWORD written = 0;
  ASSERT_TRUE(
      ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
}

// Lets every user read the file `path`, beside those who may already.
void OpenToEveryone(const std::string& path) {
  const std::wstring wide = SystemPath(path);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(::GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &dacl, nullptr, &descriptor),
            ERROR_SUCCESS);
  const LocalMemory held(descriptor);
  BYTE everyone[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof everyone;
  ASSERT_TRUE(::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size));
  EXPLICIT_ACCESS_W access{};
  access.grfAccessPermissions = GENERIC_READ;
  access.grfAccessMode = GRANT_ACCESS;
  ::BuildTrusteeWithSidW(&access.Trustee, everyone);
  PACL wider = nullptr;
  ASSERT_EQ(::SetEntriesInAclW(1, &access, dacl, &wider), ERROR_SUCCESS);
  const LocalMemory held_wider(wider);
  ASSERT_EQ(::SetNamedSecurityInfoW(const_cast<wchar_t*>(wide.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, wider, nullptr),
            ERROR_SUCCESS);
}

TEST(RecoveryWin32Test, OnlyAJournalWhollyAsThisProgramWritesOneIsActedOn) {
  constexpr char kJournal[] = ".qor-journal-0123456789ab";
  TempFolder source, target, elsewhere;
  // A file of the user's with an equal copy in place: what a killed run
  // leaves, and what a planted journal would have removed.
  const auto old = UtcSeconds(2020, 1, 1);
  const auto plant_files = [&] {
    WriteFile(source.slash() + "f", "bytes", old);
    WriteFile(target.slash() + "f", "bytes", old);
    WriteFile(target.slash() + "notes.txt", "the user's", old);
  };
  plant_files();
  const std::string source_root = RealPath(source.path()) + "\\";
  const std::string target_root = RealPath(target.path()) + "\\";
  const std::string roots = RootsRecord(source_root, target_root);
  const std::string placing = PlacingRecord("", "", "f", Entry("f"));
  const std::string journal = target.slash() + kJournal;
  const auto none = [](const std::string&) {};
  // Where a file system shows every file as the runner's (FAT, a share
  // mounted for one user), only the seal tells whose a journal is.
  JournalKey stranger;
  stranger.bytes.fill(7);
  const struct {
    const char* label;
    std::string text;
    std::function<void(const std::string&)> change;
    bool acted_on;
    bool sealed = true;
  } cases[] = {
      {"as a run writes it", roots + placing, none, true},
      {"sealed with another key", testing::Sealed(roots + placing, &stranger), none, false, false},
      {"not sealed", roots + placing, none, false, false},
      {"an absolute path in a record",
       roots + PlacingRecord(source_root, "", "f", Entry(source_root + "f")), none, false},
      {"a way up out of its roots", roots + PlacingRecord("..\\", "", "f", Entry("..\\f")), none,
       false},
      {"made for another folder",
       RootsRecord(source_root, RealPath(elsewhere.path()) + "\\") + placing, none, false},
      {"source and copy one file", RootsRecord(target_root, target_root) + placing, none, false},
      {"its source folder missing", RootsRecord(source_root + "gone\\", target_root) + placing,
       none, false},
      {"a line break in the entry",
       roots + PlacingRecord("", "", "f", Entry("f") + "\r\nnotes.txt      MOVED to   Q:"), none,
       false},
      {"the entry of another file", roots + PlacingRecord("", "", "f", Entry("notes.txt")), none,
       false},
      {"a record cut short, and more after it", roots + std::string("P\0\0\0f\0", 6) + placing,
       none, false},
      {"a temporary named as the user's file", roots + TemporaryRecord("", "notes.txt"), none,
       false},
      {"a record only another system writes",
       roots + TakingAwayRecord("", "", "f", Entry("f"), ".qor-take-0123456789ab"), none, false},
      {"readable by others", roots + placing, OpenToEveryone, false},
      {"a second name", roots + placing,
       [](const std::string& path) {
         ASSERT_TRUE(::CreateHardLinkW(SystemPath(path + "-twin").c_str(), SystemPath(path).c_str(),
                                       nullptr));
       },
       false},
      {"larger than any journal", roots + placing,
       [](const std::string& path) {
         const Handle file(::CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
         LARGE_INTEGER size;
         size.QuadPart = static_cast<LONGLONG>(kLargestJournal) + 1;
         ASSERT_TRUE(::SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) &&
                     ::SetEndOfFile(file.get()));
       },
       false},
      {"a folder", "",
       [](const std::string& path) {
         ASSERT_TRUE(::DeleteFileW(SystemPath(path).c_str()));
         ASSERT_TRUE(::CreateDirectoryW(SystemPath(path).c_str(), nullptr));
       },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    PlantJournal(journal, c.text, c.sealed);
    c.change(journal);

    FakeRecoveryLog log;
    const Recovery recovery = RecoverKilledRuns(target.path(), log);

    EXPECT_EQ(ReadFile(target.slash() + "notes.txt"), "the user's");
    EXPECT_EQ(ReadFile(target.slash() + "f"), "bytes");
    if (c.acted_on) {
      EXPECT_TRUE(NamesIn(source.path()).empty());
      EXPECT_EQ(log.written, std::vector<std::string>{Entry("f")});
      EXPECT_EQ(NamesIn(target.path()), (std::set<std::string>{"f", "notes.txt"}));
    } else {
      EXPECT_EQ(ReadFile(source.slash() + "f"), "bytes");
      EXPECT_TRUE(log.written.empty());
      EXPECT_EQ(NamesIn(target.path()).count(kJournal), 1u) << "left alone";
      ASSERT_EQ(recovery.refused.size(), 1u);
      EXPECT_EQ(recovery.refused[0].path, target.slash() + kJournal);
      EXPECT_FALSE(recovery.refused[0].why.empty());
    }
    for (const std::string& name : NamesIn(target.path())) {
      if (name.starts_with(kJournal))
        std::filesystem::remove_all(testing::FsPath(target.slash() + name));
    }
    plant_files();
  }
}

// Where the log would not take the entries of moves made across volumes,
// the journal keeps naming them past the run's end, the first move (made
// alone) too: the next run logs them.
TEST(RecoveryWin32Test, AJournalKeepsTheMovesTheCallerCouldNotRecord) {
  if (::GetDriveTypeW(L"Q:\\") == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no Q: drive";
  const std::vector<std::string> names = KilledRunsFiles(3);
  for (const bool recorded : {true, false}) {
    SCOPED_TRACE(recorded ? "recorded" : "not recorded");
    TempFolder source, target("Q:");
    for (const std::string& name : names) WriteFile(source.slash() + name, name, 0);
    {
      TargetFolder into(target.path());
      into.KeepJournal(source.path(), [] { return LogMark{}; });
      ASSERT_TRUE(into.Enter("").ok());
      const FolderListing listing(source.path());
      MoveBatch batch([] { return true; });
      batch.WhenSettled([recorded](bool) { return recorded; });
      for (const std::string& name : names) {
        batch.Move(listing, name, into, {{}, [](Outcome, FileIdentity) {}, Entry(name)});
      }
      ASSERT_TRUE(batch.Finish());
    }

    FakeRecoveryLog log;
    const Recovery recovery = RecoverKilledRuns(target.path(), log);

    EXPECT_EQ(log.written.size(), recorded ? 0u : names.size());
    EXPECT_EQ(NamesIn(target.path()), std::set<std::string>(names.begin(), names.end()))
        << "the moves made, and no journal left";
    EXPECT_TRUE(NamesIn(source.path()).empty());
  }
}

TEST(RecoveryWin32Test, ARunThatCannotRecordItsMovesSaysWhyAndMovesOn) {
  if (::GetDriveTypeW(L"Q:\\") == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no Q: drive";
  TempFolder source, target("Q:"), elsewhere;
  const struct {
    const char* label;
    std::string source_root;  // as the run was given it
    bool kept;
  } cases[] = {
      {"as given", source.path(), true},
      {"its source folder missing", source.slash() + "gone", false},
      {"a file from outside its source folder", elsewhere.path(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    WriteFile(source.slash() + "f.txt", "bytes", UtcSeconds(2021, 6, 15));
    FolderListing listing(source.path());
    TargetFolder into(target.slash());
    into.KeepJournal(c.source_root, [] { return FakeRecoveryLog().mark; });
    ASSERT_TRUE(into.Enter("").ok());

    EXPECT_TRUE(into.MoveHere(listing, "f.txt", Entry("f.txt")).ok()) << "the move goes on";

    EXPECT_EQ(into.JournalProblem().empty(), c.kept) << into.JournalProblem();
    EXPECT_EQ(ReadFile(target.slash() + "f.txt"), "bytes");
    ASSERT_TRUE(::DeleteFileW(SystemPath(target.slash() + "f.txt").c_str()));
  }
}

// A journal that was kept and can no longer take a batch's records is lost:
// no copy may be placed that no record names. One never made is not.
TEST(RecoveryWin32Test, AJournalThatCannotTakeABatchIsLostOneNeverMadeIsNot) {
  TempFolder source, target;
  const std::wstring root = SystemPath(target.slash());
  const std::string entry(std::size_t{1} << 20, 'e');
  const struct {
    const char* label;
    bool open_root;
    bool lost;
  } cases[] = {{"kept, records beyond the largest journal", true, true},
               {"never made", false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Handle root_handle = c.open_root ? OpenFolder(root, true) : Handle();
    RunJournal journal(root, root_handle.get(), source.path(),
                       [] { return FakeRecoveryLog().mark; });
    journal.Start();
    for (int i = 0; i < 65; ++i) {
      const std::string name = "f" + std::to_string(i);
      journal.Placing(SystemPath(source.slash() + name), root + Widen(name), entry);
    }
    EXPECT_EQ(journal.Sync() != 0, c.lost) << journal.Problem();
    EXPECT_EQ(journal.Lost() != 0, c.lost);
    EXPECT_NE(journal.Problem(), "");
  }
}

TEST(RecoveryWin32Test, TheFileInFlightAtAKillIsLoggedWhenItLeftItsSource) {
  // The killed run's log ends with the first piece of an entry ("f"), cut
  // short by the kill, for a move on one volume, which has no record.
  const struct {
    const char* label;
    const char* log_ends;
    bool source_stays;
    bool logged;
  } cases[] = {
      {"it left its source", "e      MOVED to   Q:\r\nf", false, true},
      {"it is still in its source", "e      MOVED to   Q:\r\nf", true, false},
      {"its entry was ended", "f      MOVED to   Q:\r\n", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder source, target, logs;
    WriteFile(target.slash() + "f", "bytes", UtcSeconds(2020, 1, 1));
    if (c.source_stays) WriteFile(source.slash() + "f", "bytes", UtcSeconds(2020, 1, 1));
    WriteFile(logs.slash() + "log.txt", c.log_ends, UtcSeconds(2020, 1, 1));
    const Handle opened = OpenForAttributes(SystemPath(logs.slash() + "log.txt"), false);
    const LogMark mark{RealPath(logs.slash() + "log.txt"), HandleIdentity(opened.get()), 0};
    const std::string target_root = RealPath(target.path()) + "\\";
    PlantJournal(target.slash() + ".qor-journal-0123456789ab",
                 RootsRecord(RealPath(source.path()) + "\\", target_root) + LogRecord(mark));

    FakeRecoveryLog log;
    const Recovery recovery = RecoverKilledRuns(target.path(), log);

    EXPECT_EQ(log.written, c.logged ? std::vector<std::string>{"f      MOVED to   " + target_root}
                                    : std::vector<std::string>{});
    EXPECT_TRUE(recovery.refused.empty());
    EXPECT_EQ(NamesIn(target.path()), std::set<std::string>{"f"}) << "the journal went";
  }
}

}  // namespace
}  // namespace qor::platform
