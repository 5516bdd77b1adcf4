// Moves to which something happens that the system brings about only by
// chance, or not at all under wine: the tests step in through the seams.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/move_batch.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/test_seams.h"
#include "platform/win32/wide.h"
#include "support/temp_tree.h"

namespace qor::platform {
namespace {

using testing::NamesIn;
using testing::ReadFile;
using testing::TempFolder;
using testing::UtcSeconds;
using testing::WriteFile;

// Puts `value` in `seam` for as long as it lives.
template <typename T>
class InSeam {
 public:
  InSeam(T& seam, T value) : seam_(seam) { seam_ = value; }
  ~InSeam() { seam_ = nullptr; }
  InSeam(const InSeam&) = delete;
  InSeam& operator=(const InSeam&) = delete;

 private:
  T& seam_;
};

// Puts a folder, with a file in it, in the place of the file `from`.
void SwapInFolder(const std::wstring& from) {
  ASSERT_TRUE(::DeleteFileW(from.c_str()));
  ASSERT_TRUE(::CreateDirectoryW(from.c_str(), nullptr));
  const Handle inside(::CreateFileW((from + L"\\inside.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(inside.IsValid());
}

TEST(MoveSeamsWin32Test, AFolderSwappedInBeforeTheRenameIsPutBack) {
  TempFolder source, target;
  WriteFile(source.slash() + "f.txt", "file", UtcSeconds(2021, 6, 15));
  const InSeam seam(test_seams::before_rename, &SwapInFolder);

  const Outcome moved = MoveFileNoReplace(source.slash() + "f.txt", target.slash() + "f.txt");

  EXPECT_EQ(moved.error, 336) << "ERROR_DIRECTORY_NOT_SUPPORTED";
  EXPECT_TRUE(NamesIn(target.path()).empty());
  EXPECT_EQ(NamesIn(source.slash() + "f.txt"), std::set<std::string>{"inside.txt"});
}

// Copies that CopyAskingProgress ran to their end.
std::atomic<int> copies_to_the_end = 0;

// CopyFileExW as Windows runs it: between the pieces it copies it asks the
// progress routine, and PROGRESS_CANCEL fails the copy with
// ERROR_REQUEST_ABORTED. Unlike Windows, it leaves the part copied behind.
BOOL WINAPI CopyAskingProgress(LPCWSTR from, LPCWSTR to, LPPROGRESS_ROUTINE progress, LPVOID data,
                               LPBOOL cancel, DWORD flags) {
  if (!::CopyFileExW(from, to, nullptr, nullptr, cancel, flags)) return FALSE;
  LARGE_INTEGER none{};
  for (int piece = 0; piece < 50; ++piece) {
    ::Sleep(10);
    DWORD answer = PROGRESS_CONTINUE;
    try {
      answer = progress(none, none, none, none, 1, CALLBACK_CHUNK_FINISHED, nullptr, nullptr, data);
    } catch (...) {
      ADD_FAILURE() << "a failure passed the progress routine into the system's copy";
      throw;
    }
    if (answer != PROGRESS_CONTINUE) {
      ::SetLastError(ERROR_REQUEST_ABORTED);
      return FALSE;
    }
  }
  ++copies_to_the_end;
  return TRUE;
}

TEST(MoveSeamsWin32Test, ACopyStoppedOrFailingInItsProgressLeavesTheSourceAndEndsItsEntry) {
  if (::GetDriveTypeW(L"Q:\\") == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no Q: drive";
  const InSeam seam(test_seams::copy_file, &CopyAskingProgress);
  for (const bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "the check fails" : "the check says stop");
    TempFolder source, target("Q:");
    WriteFile(source.slash() + "f.txt", "content", UtcSeconds(2021, 6, 15));
    FolderListing listing(source.path());
    TargetFolder into(target.slash());
    ASSERT_TRUE(into.Enter("").ok());
    MoveBatch batch([fails]() -> bool {
      if (fails) throw std::bad_alloc();
      return false;
    });
    std::vector<std::string> steps;
    const auto move = [&] {
      return batch.Move(listing, "f.txt", into,
                        {[&] {
                           steps.push_back("begin");
                           return true;
                         },
                         [&](Outcome outcome, FileIdentity) {
                           steps.push_back("end " + ErrorText(outcome.error));
                         },
                         {}});
    };

    if (fails) {
      EXPECT_THROW(move(), std::bad_alloc) << "the run ends on the failure";
    } else {
      EXPECT_FALSE(move());
    }

    EXPECT_EQ(steps,
              (std::vector<std::string>{"begin", "end " + ErrorText(ERROR_REQUEST_ABORTED)}));
    EXPECT_EQ(ReadFile(source.slash() + "f.txt"), "content");
    std::set<std::string> left = NamesIn(target.path());
    std::erase_if(left, [](const std::string& name) { return name.starts_with(".qor-journal-"); });
    EXPECT_TRUE(left.empty()) << "neither copy nor temporary left, only the live run's journal";
  }
}

}  // namespace
}  // namespace qor::platform

namespace qor::platform {
namespace {

// What each move went through, by name, and the order of the moves' ends.
struct Seen {
  std::mutex mutex;
  std::vector<test_seams::AcrossVolumesStep> steps;
  std::vector<std::string> ended;
};
Seen* seen = nullptr;

void NoteStep(test_seams::AcrossVolumesStep step) {
  const std::lock_guard<std::mutex> lock(seen->mutex);
  seen->steps.push_back(step);
}

TEST(MoveSeamsWin32Test, CopiesAcrossVolumesAreFlushedAndPlacedTogetherBeforeAnySourceGoes) {
  if (::GetDriveTypeW(L"Q:\\") == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no Q: drive";
  using Step = test_seams::AcrossVolumesStep;
  const std::vector<std::string> names = {"a", "b", "c", "d", "e"};
  enum class End { Whole, Stopped, CheckFails };
  for (const End end : {End::Whole, End::Stopped, End::CheckFails}) {
    const bool stop = end != End::Whole;
    SCOPED_TRACE(end == End::Whole     ? "to the end"
                 : end == End::Stopped ? "stopped while the batch's copies are made"
                                       : "the check fails while the batch's copies are made");
    TempFolder source, target("Q:");
    for (const std::string& name : names) {
      WriteFile(source.slash() + name, "bytes of " + name, UtcSeconds(2021, 6, 15));
    }
    WriteFile(target.slash() + "d", "the user's own", UtcSeconds(2022, 1, 1));
    Seen record;
    seen = &record;
    const InSeam steps(test_seams::across_volumes_step, &NoteStep);
    const InSeam copies(test_seams::copy_file, stop ? &CopyAskingProgress : nullptr);
    FolderListing listing(source.path());
    TargetFolder into(target.slash());
    ASSERT_TRUE(into.Enter("").ok());
    std::size_t moves = 0;
    copies_to_the_end = 0;
    // Once every file is handed over, the batch's copies are under way.
    MoveBatch batch([&] {
      if (stop && moves == names.size() && end == End::CheckFails) throw std::bad_alloc();
      return !(stop && moves == names.size());
    });
    std::map<std::string, Outcome> outcomes;
    bool went_on = true;
    for (const std::string& name : names) {
      ++moves;
      const MoveBatch::Steps each = {{},
                                     [&, name](Outcome outcome, FileIdentity) {
                                       record.ended.push_back(name);
                                       outcomes[name] = outcome;
                                     },
                                     {}};
      if (!(went_on = batch.Move(listing, name, into, each))) break;
    }
    if (went_on && end == End::CheckFails) {
      EXPECT_THROW(batch.Finish(), std::bad_alloc) << "the run ends on the failure";
      went_on = false;
    } else if (went_on) {
      went_on = batch.Finish();
    }
    seen = nullptr;

    EXPECT_EQ(went_on, !stop);
    if (stop) {
      EXPECT_EQ(copies_to_the_end, 1) << "the batch's copies were not broken off";
    }
    // The first move finds out that the volumes differ, alone; the next
    // ones go through one batch, whose sources go only once every copy of
    // it is flushed and placed. The copy of "d" finds its name taken.
    const std::vector<Step> alone = {Step::Copied, Step::Placing, Step::Placed, Step::Removed};
    ASSERT_GE(record.steps.size(), alone.size());
    EXPECT_EQ(std::vector<Step>(record.steps.begin(), record.steps.begin() + 4), alone);
    const std::vector<Step> batched =
        stop ? std::vector<Step>{}
             : std::vector<Step>{Step::Copied,  Step::Copied,  Step::Copied,  Step::Copied,
                                 Step::Placing, Step::Placing, Step::Placing, Step::Placing,
                                 Step::Placed,  Step::Removed, Step::Placed,  Step::Removed,
                                 Step::Placed,  Step::Removed};
    EXPECT_EQ(std::vector<Step>(record.steps.begin() + 4, record.steps.end()), batched);
    EXPECT_EQ(record.ended, stop ? std::vector<std::string>{"a"} : names);
    EXPECT_EQ(ReadFile(target.slash() + "d"), "the user's own");
    for (const std::string& name : names) {
      const bool moved = outcomes.count(name) != 0 && outcomes[name].ok();
      EXPECT_EQ(ReadFile((moved ? target.slash() : source.slash()) + name), "bytes of " + name)
          << name;
      EXPECT_EQ(moved, name != "d" && (!stop || name == "a")) << name;
    }
    for (const std::string& name : NamesIn(target.path())) {
      EXPECT_FALSE(name.starts_with(".qor-part-")) << "a temporary stayed: " << name;
    }
  }
}

}  // namespace
}  // namespace qor::platform

namespace qor::platform {
namespace {

TEST(MoveSeamsWin32Test, AFolderSwappedInForAFileOfABatchStaysWhole) {
  if (::GetDriveTypeW(L"Q:\\") == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no Q: drive";
  TempFolder source, target("Q:");
  for (const char* name : {"a", "b"}) {
    WriteFile(source.slash() + name, "bytes", UtcSeconds(2021, 6, 15));
  }
  FolderListing listing(source.path());
  TargetFolder into(target.slash());
  ASSERT_TRUE(into.Enter("").ok());
  MoveBatch batch([] { return true; });
  std::map<std::string, Outcome> outcomes;
  for (const std::string name : {"a", "b"}) {
    // After the first move, which finds out that the volumes differ.
    if (name == "b") SwapInFolder(testing::FsPath(source.slash() + "b").wstring());
    batch.Move(listing, name, into,
               {{}, [&, name](Outcome outcome, FileIdentity) { outcomes[name] = outcome; }, {}});
  }
  ASSERT_TRUE(batch.Finish());

  EXPECT_TRUE(outcomes["a"].ok());
  EXPECT_EQ(outcomes["b"].error, 336) << "ERROR_DIRECTORY_NOT_SUPPORTED";
  EXPECT_EQ(NamesIn(source.slash() + "b"), std::set<std::string>{"inside.txt"});
  std::set<std::string> moved = NamesIn(target.path());
  std::erase_if(moved, [](const std::string& name) { return name.starts_with(".qor-journal-"); });
  EXPECT_EQ(moved, std::set<std::string>{"a"});
}

}  // namespace
}  // namespace qor::platform

namespace qor::platform {
namespace {

// What a batch's placements and removals went through, in order, with the
// window's asks between them.
std::vector<std::string>* heard = nullptr;

void SlowStep(test_seams::AcrossVolumesStep step) {
  // A round trip to a share, each.
  if (step != test_seams::AcrossVolumesStep::Placing &&
      step != test_seams::AcrossVolumesStep::Placed) {
    return;
  }
  ::Sleep(120);
  if (heard != nullptr) heard->push_back("step");
}

TEST(MoveSeamsWin32Test, ABatchAsksTheWindowBetweenItsStepsAndNoSourceGoesAfterAStop) {
  if (::GetDriveTypeW(L"Q:\\") == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no Q: drive";
  const std::vector<std::string> names = {"a", "b", "c", "d"};
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "told to stop while the sources go" : "told to go on");
    TempFolder source, target("Q:");
    for (const std::string& name : names) {
      WriteFile(source.slash() + name, "bytes of " + name, UtcSeconds(2021, 6, 15));
    }
    const InSeam steps(test_seams::across_volumes_step, &SlowStep);
    FolderListing listing(source.path());
    TargetFolder into(target.slash());
    ASSERT_TRUE(into.Enter("").ok());
    std::vector<std::string> events;
    MoveBatch batch([&] {
      if (heard != nullptr) events.push_back("ask");
      // Once the first source of the batch has gone.
      return !(stop && std::count(events.begin(), events.end(), "step") > 3);
    });
    std::vector<std::string> ended;
    for (const std::string& name : names) {
      batch.Move(listing, name, into,
                 {{},
                  [&, name](Outcome outcome, FileIdentity) {
                    if (outcome.ok()) ended.push_back(name);
                  },
                  {}});
      heard = &events;  // after the first move, which finds out that the volumes differ
    }

    EXPECT_EQ(batch.Finish(), !stop);
    heard = nullptr;

    for (std::size_t i = 1; i < events.size(); ++i) {
      EXPECT_FALSE(events[i] == "step" && events[i - 1] == "step") << "no ask before step " << i;
    }
    if (!stop) {
      EXPECT_EQ(ended, names) << "every move of the batch ended, in order";
      EXPECT_EQ(std::count(events.begin(), events.end(), "step"), 6) << "three placed, three gone";
      EXPECT_TRUE(NamesIn(source.path()).empty());
      continue;
    }
    // No source goes after the answer: the moves before it ended, in order;
    // the rest stay where they were, without a copy.
    ASSERT_LT(ended.size(), names.size());
    EXPECT_TRUE(std::equal(ended.begin(), ended.end(), names.begin()));
    EXPECT_EQ(NamesIn(source.path()),
              std::set<std::string>(names.begin() + ended.size(), names.end()));
    EXPECT_EQ(NamesIn(target.path()), std::set<std::string>(ended.begin(), ended.end()));
  }
}

}  // namespace
}  // namespace qor::platform

namespace qor::platform {
namespace {

// The source another program removes once its copy is in place.
const std::wstring* removed_by_another = nullptr;

void RemoveSourceOncePlaced(test_seams::AcrossVolumesStep step) {
  if (step == test_seams::AcrossVolumesStep::Placed) {
    ASSERT_TRUE(::DeleteFileW(removed_by_another->c_str()));
  }
}

TEST(MoveSeamsWin32Test, ASourceRemovedByAnotherOnceItsCopyIsInPlaceLeavesTheCopy) {
  if (::GetDriveTypeW(L"Q:\\") == DRIVE_NO_ROOT_DIR) GTEST_SKIP() << "no Q: drive";
  TempFolder source, target("Q:");
  WriteFile(source.slash() + "f.txt", "the only bytes", UtcSeconds(2021, 6, 15));
  const std::wstring from = SystemPath(source.slash() + "f.txt");
  removed_by_another = &from;
  const InSeam seam(test_seams::across_volumes_step, &RemoveSourceOncePlaced);

  const Outcome moved = MoveFileNoReplace(source.slash() + "f.txt", target.slash() + "f.txt");

  EXPECT_TRUE(moved.ok()) << ErrorText(moved.error);
  EXPECT_EQ(ReadFile(target.slash() + "f.txt"), "the only bytes") << "the copy is the file now";
  EXPECT_TRUE(NamesIn(source.path()).empty());
}

}  // namespace
}  // namespace qor::platform
