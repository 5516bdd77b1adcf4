// A run killed at each step of a move across volumes, and the next run's
// recovery; a live run's work, which recovery never touches.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/move_batch.h"
#include "platform/win32/run_journal.h"
#include "platform/win32/test_seams.h"
#include "platform/win32/wide.h"
#include "support/temp_tree.h"

namespace qor::platform {
namespace {

using Step = test_seams::AcrossVolumesStep;
using testing::NamesIn;
using testing::ReadFile;
using testing::TempFolder;
using testing::UtcSeconds;
using testing::WriteFile;

constexpr UINT kKilled = 9;
constexpr char kEntry[] = "f.txt moved";

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
// QOR_KILL_FROM into "sub" of QOR_KILL_TO and is killed when step
// QOR_KILL_STEP comes for the QOR_KILL_AT-th time: no destructor runs, the
// system closes its handles.
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
  TargetFolder target(Variable("QOR_KILL_TO"));
  const FolderListing listing(Variable("QOR_KILL_FROM"));
  MoveBatch batch([] { return true; });
  if (target.Enter("sub\\").ok()) {
    for (const std::string& name : KilledRunsFiles(std::atoi(Variable("QOR_KILL_FILES").c_str()))) {
      batch.Move(listing, name, target, {{}, {}, name + " moved"});
    }
  }
  batch.Finish();
  ::ExitProcess(0);  // the step never came
}
[[maybe_unused]] const bool kChild = RunAsKilledChild();

// Runs the killed child, moving `files` files, and gives its exit code.
DWORD RunKilledAt(Step step, const std::string& from, const std::string& to, int files = 1,
                  int at = 1) {
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
  } cases[] = {{Step::Copied, false},
               {Step::Placing, false},
               {Step::Placed, false},
               {Step::Placed, true},
               {Step::Removed, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.step));
    TempFolder source, target("Q:");
    WriteFile(source.slash() + "f.txt", "whole file", UtcSeconds(2021, 6, 15));
    ASSERT_EQ(RunKilledAt(c.step, source.path(), target.path()), kKilled);
    ASSERT_EQ(NamesIn(target.path()).size(), 2u) << "the killed run's journal is left";
    if (c.changed) WriteFile(source.slash() + "f.txt", "changed ...", UtcSeconds(2021, 6, 15));

    const Recovery recovery = RecoverKilledRuns(target.path());

    // Only a source still equal to its placed copy goes, and is logged.
    const bool finished = c.step == Step::Placed && !c.changed;
    EXPECT_EQ(recovery.entries,
              finished ? std::vector<std::string>{kEntry} : std::vector<std::string>{});
    EXPECT_EQ(recovery.left, c.changed ? 1 : 0);
    EXPECT_EQ(NamesIn(target.path()), std::set<std::string>{"sub"}) << "the journal went";
    std::set<std::string> everywhere = NamesIn(target.slash() + "sub");
    for (const std::string& name : NamesIn(source.path())) everywhere.insert("source " + name);
    if (c.changed) {
      EXPECT_EQ(everywhere, (std::set<std::string>{"f.txt", "source f.txt"}));
      EXPECT_EQ(ReadFile(source.slash() + "f.txt"), "changed ...");
      continue;
    }
    const bool moved = c.step >= Step::Placed;
    EXPECT_EQ(everywhere, std::set<std::string>{moved ? "f.txt" : "source f.txt"});
    EXPECT_EQ(ReadFile((moved ? target.slash() + "sub\\" : source.slash()) + "f.txt"),
              "whole file");
  }
}

TEST(RecoveryWin32Test, AKillWithinABatchIsFinishedByTheNextRun) {
  if (::GetDriveTypeW(L"Q:\\") == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no Q: drive";
  // Four files: the first moves alone, the other three in one batch. The
  // kill comes at the `at`-th time of `step`.
  const struct {
    Step step;
    int at;
    std::vector<std::string> finished;  // by the recovery
    std::set<std::string> in_target;    // afterwards
  } cases[] = {
      {Step::Copied, 3, {}, {"f1.txt"}},
      {Step::Placing, 3, {"f2.txt moved"}, {"f1.txt", "f2.txt"}},
      {Step::Placed, 3, {"f3.txt moved", "f4.txt moved"}, {"f1.txt", "f2.txt", "f3.txt", "f4.txt"}},
      {Step::Removed, 3, {"f4.txt moved"}, {"f1.txt", "f2.txt", "f3.txt", "f4.txt"}},
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

    const Recovery recovery = RecoverKilledRuns(target.path());

    EXPECT_EQ(recovery.entries, c.finished);
    EXPECT_EQ(recovery.left, 0);
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
    RunJournal live(root);
    live.Temporary(root + L".qor-part-0123456789ab");
    live.Placing(SystemPath(source.slash() + "f.txt"), root + L"f.txt", kEntry);
    const std::set<std::string> before = NamesIn(target.path());
    ASSERT_EQ(before.size(), 3u) << "the copy, the temporary and the journal";

    const Recovery recovery = RecoverKilledRuns(target.path());

    EXPECT_TRUE(recovery.entries.empty());
    EXPECT_EQ(NamesIn(target.path()), before);
    EXPECT_EQ(NamesIn(source.path()), std::set<std::string>{"f.txt"});
  }
  EXPECT_EQ(NamesIn(target.path()), (std::set<std::string>{".qor-part-0123456789ab", "f.txt"}))
      << "a run that ends takes its journal with it";
}

}  // namespace
}  // namespace qor::platform
