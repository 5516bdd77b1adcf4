// Walks over trees that could lead a move run astray: a target holding the
// source, links in the target, dates no calendar of the program holds, a tree
// deeper than any stack, and temporaries a killed run left behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/journal_records.h"
#include "support/mounted_folder.h"
#include "trial_run.h"

namespace qor::testing {
namespace {

// A run from `source` to `target`, "<" 15 June 2021, into and out of every
// subfolder.
struct PlainRun {
  PlainRun(const std::string& source, const std::string& target) {
    TrialRun::UseTrialOptions(source, target, params);
  }
  std::string Walk() {
    RunLog log;
    if (!log.Create(logs.slash() + "log.txt").ok()) std::abort();
    HookedObserver observer;
    end = FindFile(params.SourcePath, params, log, observer);
    log.Close();
    return ReadFile(logs.slash() + "log.txt");
  }
  SearchParams params;
  WalkEnd end = WalkEnd::Finished;
  TempFolder logs;
};

TEST(WalkSafetyTest, NoFileIsTakenTwiceWhenTheTargetHoldsTheSource) {
  // Source top/s/, target top/: the files of s/s/c<i>/ go to s/c<i>/, which
  // the walk may list after s/s/. The folder s/s/ is made amid the others,
  // so that some come after it in a listing whatever the file system's order.
  TempFolder top("/dev/shm");
  const std::string source = top.slash() + "s/";
  const int kFolders = 20;
  for (int i = 0; i < kFolders; ++i) {
    if (i == kFolders / 2) {
      ASSERT_TRUE(std::filesystem::create_directories(source + "s"));
    }
    ASSERT_TRUE(std::filesystem::create_directories(source + "c" + std::to_string(i)));
  }
  for (int i = 0; i < kFolders; ++i) {
    const std::string relative = "c" + std::to_string(i) + "/f";
    WriteFile(source + "s/" + relative, relative, TakenDate());
  }
  PlainRun run(source, top.slash());

  const std::string log = run.Walk();

  EXPECT_EQ(run.params.MovedCount, kFolders);
  EXPECT_EQ(SplitLog(log).lines.size(), static_cast<std::size_t>(kFolders));
  for (int i = 0; i < kFolders; ++i) {
    const std::string relative = "c" + std::to_string(i) + "/f";
    EXPECT_EQ(ReadFile(source + relative), relative) << "moved once, one level up";
  }
  EXPECT_EQ(NamesIn(top.path()), std::set<std::string>{"s"}) << "nothing moved twice";
}

TEST(WalkSafetyTest, ALinkInTheTargetTreeIsNeverFollowed) {
  TempFolder in, out;
  WriteFile(in.slash() + "sub/a.txt", "a", TakenDate());
  ASSERT_EQ(::mkdir((in.slash() + "sub/deeper").c_str(), 0755), 0);
  ASSERT_EQ(::symlink((in.slash() + "sub/deeper").c_str(), (out.slash() + "sub").c_str()), 0);
  PlainRun run(in.slash(), out.slash());

  const std::string log = run.Walk();

  EXPECT_EQ(log, "sub/a.txt" + std::string(kNotMoved) + "a symbolic link in the target path\r\n");
  EXPECT_EQ(ReadFile(in.slash() + "sub/a.txt"), "a");
  EXPECT_TRUE(NamesIn(in.slash() + "sub/deeper").empty());
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, for
// years far beyond what the C library converts.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

TEST(WalkSafetyTest, AFileDatedBeyondTheProgramsYearsIsNeverTaken) {
  // 15 June of 2021 + 2^32: cut to 32 bits, its year reads as 2021.
  TempFolder source("/dev/shm"), target;
  const std::string file = source.slash() + "far.txt";
  WriteFile(file, "far", 0);
  const std::int64_t seconds = DaysFromCivil(2021 + (std::int64_t{1} << 32), 6, 15) * 86400;
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  struct stat st;
  if (::utimensat(AT_FDCWD, file.c_str(), times, 0) != 0 || ::stat(file.c_str(), &st) != 0 ||
      st.st_mtim.tv_sec != seconds) {
    GTEST_SKIP() << "this file system cannot hold such a date";
  }
  PlainRun run(source.slash(), target.slash());
  run.params.CompareMode = kCompareEqual;

  EXPECT_EQ(run.Walk(), "");
  EXPECT_EQ(ReadFile(file), "far");
}

// Makes `depth` folders "d" one inside the other below `root`, and `name`
// in the deepest one; through descriptors, as no path could name it.
void MakeChain(const std::string& root, int depth, const std::string& name) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < depth; ++i) {
    ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
    const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
    ::close(fd);
    ASSERT_GE(next, 0);
    fd = next;
  }
  const int file = ::openat(fd, name.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(file, 0);
  ASSERT_EQ(::write(file, "deep", 4), 4);
  const struct timespec times[2] = {{TakenDate(), 0}, {TakenDate(), 0}};
  ASSERT_EQ(::futimens(file, times), 0);
  ::close(file);
  ::close(fd);
}

// The content of `name` at the bottom of a chain of `depth` folders below
// `root`, removing the chain on the way back up; "<missing>" when the chain
// or the file is not whole.
std::string TakeChain(const std::string& root, int depth, const std::string& name) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
  int reached = 0;
  while (fd >= 0 && reached < depth) {
    const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (next < 0) break;
    ::close(fd);
    fd = next;
    ++reached;
  }
  std::string content = "<missing>";
  if (reached == depth) {
    char buffer[16] = {};
    const int file = ::openat(fd, name.c_str(), O_RDONLY);
    if (file >= 0 && ::read(file, buffer, sizeof buffer) > 0) content = buffer;
    if (file >= 0) ::close(file);
    ::unlinkat(fd, name.c_str(), 0);
  }
  for (; reached > 0; --reached) {
    const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = up;
    ::unlinkat(fd, "d", AT_REMOVEDIR);
  }
  if (fd >= 0) ::close(fd);
  return content;
}

TEST(WalkSafetyTest, AHundredThousandLevelsDeepMoveWhole) {
  const int kDepth = 100000;
  // In memory: on a disk, making and removing this many folders is the file
  // system's own slow work, not the walk's.
  TempFolder source("/dev/shm"), target("/dev/shm");
  MakeChain(source.path(), kDepth, "bottom.txt");
  PlainRun run(source.slash(), target.slash());

  const std::string log = run.Walk();

  EXPECT_EQ(run.end, WalkEnd::Finished);
  EXPECT_EQ(run.params.MovedCount, 1);
  EXPECT_EQ(run.params.FailedCount, 0);
  EXPECT_EQ(run.params.UnreadFolders, 0);
  EXPECT_EQ(run.params.SearchedCount, 3 * kDepth + 3);  // ".", ".." and one entry a level
  EXPECT_EQ(SplitLog(log).lines.size(), 1u);
  EXPECT_EQ(TakeChain(target.path(), kDepth, "bottom.txt"), "deep");
  EXPECT_FALSE(Exists(source.path())) << "emptied folders, the source too, are removed";
  TakeChain(source.path(), kDepth, "bottom.txt");
}

TEST(WalkSafetyTest, AUserFileNamedLikeATemporaryIsNeverRemovedByItsName) {
  TempFolder source, target;
  WriteFile(source.slash() + "a/x.txt", "x", TakenDate());
  // Old, regular, and exactly the temporaries' pattern: still the user's.
  const std::string planted = ".qor-part-0123456789ab";
  WriteFile(target.slash() + "a/" + planted, "the user's own", TakenDate());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  PlainRun run(source.slash(), target.slash());

  run.Walk();

  EXPECT_EQ(NamesIn(target.slash() + "a"), (std::set<std::string>{planted, "x.txt"}));
  EXPECT_EQ(ReadFile(target.slash() + "a/" + planted), "the user's own");
}

TEST(WalkSafetyTest, ALogThatFillsItsDiskNeverCallsAMovedFileNotMoved) {
  MountedFolder small("tmpfs", "size=256k");
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (not root?)";
  // Everything but two pages taken, so the log runs out after some fifty
  // entries, wherever that falls in an entry.
  const std::string filler = small.slash() + "filler";
  {
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const std::string page(4096, 'f');
    off_t size = 0;
    while (::write(fd, page.data(), page.size()) == 4096) size += 4096;
    ASSERT_EQ(::ftruncate(fd, size - 8192), 0);
    ::close(fd);
  }
  TempFolder source, target;
  for (int i = 0; i < 200; ++i) {
    WriteFile(source.slash() + std::string(100, 'n') + std::to_string(i), "x", TakenDate());
  }
  PlainRun run(source.slash(), target.slash());
  RunLog log;
  ASSERT_TRUE(log.Create(small.slash() + "log.txt").ok());
  HookedObserver observer;

  FindFile(run.params.SourcePath, run.params, log, observer);
  EXPECT_TRUE(log.IsBroken());
  log.Close();

  const LogLines lines = SplitLog(ReadFile(small.slash() + "log.txt"));
  EXPECT_EQ(lines.partial, "") << "an entry was begun that could not be finished";
  // The journal stays beside them: the log that names them could not be
  // brought to the disk, and a later run finds them logged or logs them.
  std::set<std::string> moved = NamesIn(target.path());
  EXPECT_EQ(std::erase_if(
                moved,
                [](const std::string& name) { return name.starts_with(platform::kJournalPrefix); }),
            1u);
  EXPECT_GT(moved.size(), 0u);
  EXPECT_EQ(lines.lines.size(), moved.size());
  EXPECT_EQ(run.params.MovedCount, static_cast<int>(moved.size()));
  for (const std::string& line : lines.lines) {
    const std::size_t end = line.find(kMovedTo);
    ASSERT_NE(end, std::string::npos) << line;
    EXPECT_EQ(moved.count(line.substr(0, end)), 1u) << line;
  }
  EXPECT_EQ(NamesIn(source.path()).size() + moved.size(), 200u);
}

}  // namespace
}  // namespace qor::testing
