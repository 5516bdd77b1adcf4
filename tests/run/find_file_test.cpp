#include "run/find_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/files.h"
#include "run/find_file_fixture.h"
#include "run/path_text.h"

namespace qor {
namespace {

struct CompareCase {
  std::int16_t mode;
  int year, month, day;
  bool taken;
};

TEST_F(FindFileTest, ComparesYearMonthAndDayEachOnItsOwn) {
  // Reference date 15 June 2021.
  const std::vector<CompareCase> cases = {
      {kCompareEqual, 2021, 6, 15, true},
      {kCompareEqual, 2021, 6, 14, false},
      {kCompareEqual, 2020, 6, 15, false},
      {kCompareBefore, 2020, 5, 10, true},
      {kCompareBefore, 2020, 12, 20, false},  // 12 is not less than 6
      {kCompareBefore, 2021, 6, 14, false},   // 2021 is not less than 2021
      {kCompareBefore, 2020, 5, 15, false},
      {kCompareAfter, 2022, 7, 20, true},
      {kCompareAfter, 2022, 12, 10, false},  // 10 is not more than 15
      {kCompareAfter, 2022, 6, 20, false},
      {7, 2022, 7, 20, true},  // unknown modes act as ">"
      // Each part on its own: one part equal, or one part on the wrong side,
      // while both others qualify.
      {kCompareBefore, 2020, 6, 10, false},
      {kCompareBefore, 2020, 12, 10, false},
      {kCompareBefore, 2021, 5, 10, false},
      {kCompareBefore, 2022, 5, 10, false},
      {kCompareAfter, 2022, 5, 20, false},
      {kCompareAfter, 2021, 7, 20, false},
      {kCompareAfter, 2020, 7, 20, false},
      {kCompareAfter, 2022, 7, 15, false},
  };
  for (const CompareCase& c : cases) {
    params_.CompareMode = c.mode;
    EXPECT_EQ(IsTaken(params_, c.year, c.month, c.day), c.taken)
        << "mode " << c.mode << " date " << c.year << "-" << c.month << "-" << c.day;
  }
}

TEST_F(FindFileTest, MovesTakenFilesIntoTheSameRelativeFoldersAndLogsThem) {
  params_.CompareMode = kCompareBefore;
  params_.Recurse = true;
  const auto old_date = UtcSeconds(2020, 5, 10);
  const auto new_date = UtcSeconds(2021, 6, 20);
  WriteFile(source_ + "top.txt", "top", old_date);
  WriteFile(source_ + Native("a/b/deep.txt"), "deep", old_date);
  WriteFile(source_ + Native("a/keep.txt"), "keep", new_date);

  ASSERT_EQ(Walk(), WalkEnd::Finished);

  EXPECT_EQ(ReadFile(target_ + "top.txt"), "top");
  EXPECT_EQ(ReadFile(target_ + Native("a/b/deep.txt")), "deep");
  EXPECT_FALSE(Exists(source_ + "top.txt"));
  EXPECT_FALSE(Exists(source_ + Native("a/b/deep.txt")));
  EXPECT_TRUE(Exists(source_ + Native("a/keep.txt")));
  EXPECT_FALSE(Exists(target_ + Native("a/keep.txt")));
  EXPECT_EQ(params_.MovedCount, 2);
  EXPECT_EQ(params_.FailedCount, 0);
  // in: . .. top.txt a ; a: . .. keep.txt b ; b: . .. deep.txt
  EXPECT_EQ(params_.SearchedCount, 4 + 4 + 3);
  if (!LogKeepsSeparators()) GTEST_SKIP() << kSeparatorEscaped;
  // Subfolders are walked when met, so the log order follows the listing;
  // compare the set of lines and the exact bytes of each.
  const std::string log = Log();
  const std::string deep = Native("a/b/deep.txt");
  EXPECT_NE(log.find("top.txt      MOVED to   " + target_ + "\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(deep + "      MOVED to   " + target_ + "\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.size(), std::string("top.txt      MOVED to   " + target_ + "\r\n").size() +
                            std::string(deep + "      MOVED to   " + target_ + "\r\n").size());
}

TEST_F(FindFileTest, NeverReplacesAnExistingFileAndEndsItsEntryWithTheReason) {
  params_.CompareMode = kCompareEqual;
  const auto date = UtcSeconds(2021, 6, 15);
  WriteFile(source_ + "same.txt", "new bytes", date);
  WriteFile(target_ + "same.txt", "old bytes", date);
  WriteFile(source_ + "other.txt", "other", date);

  Walk();

  EXPECT_EQ(ReadFile(target_ + "same.txt"), "old bytes");
  EXPECT_EQ(ReadFile(source_ + "same.txt"), "new bytes");
  EXPECT_EQ(ReadFile(target_ + "other.txt"), "other");
  EXPECT_EQ(params_.MovedCount, 2);  // a failed move still counts as taken
  EXPECT_EQ(params_.FailedCount, 1);
#ifdef _WIN32
  const std::string exists = platform::ErrorText(ERROR_ALREADY_EXISTS);
#else
  const std::string exists = "File exists";
#endif
  EXPECT_NE(Log().find("same.txt      NOT MOVED: " + exists + "\r\n"), std::string::npos) << Log();
  if (!LogKeepsSeparators()) GTEST_SKIP() << kSeparatorEscaped;
  EXPECT_NE(Log().find("other.txt      MOVED to   " + target_ + "\r\n"), std::string::npos);
}

TEST_F(FindFileTest, PassesOverEverythingWhoseNameBeginsWithAFullStop) {
  params_.Recurse = true;
  const auto date = UtcSeconds(2021, 6, 15);
  WriteFile(source_ + ".profile", "p", date);
  WriteFile(source_ + Native(".cache/inner.txt"), "i", date);

  Walk();

  EXPECT_TRUE(Exists(source_ + ".profile"));
  EXPECT_TRUE(Exists(source_ + Native(".cache/inner.txt")));
  EXPECT_EQ(params_.MovedCount, 0);
  EXPECT_EQ(params_.SearchedCount, 4);  // . .. .profile .cache; nothing inside .cache
  EXPECT_EQ(Log(), "");
}

TEST_F(FindFileTest, WithoutRecursionASubfolderCountsOnceAndNothingBelowIsSeen) {
  const auto date = UtcSeconds(2021, 6, 15);
  WriteFile(source_ + Native("sub/a.txt"), "a", date);
  WriteFile(source_ + Native("sub/b.txt"), "b", date);

  Walk();

  EXPECT_EQ(params_.SearchedCount, 3);
  EXPECT_TRUE(Exists(source_ + Native("sub/a.txt")));
  EXPECT_EQ(params_.MovedCount, 0);
}

TEST_F(FindFileTest, EmptySourceCountsItsTwoDotEntriesAndIsRemovedWhenAsked) {
  params_.DeleteEmpty = true;
  Walk();
  EXPECT_EQ(params_.SearchedCount, 2);
  EXPECT_FALSE(Exists(source_));
}

TEST_F(FindFileTest, RemovesEmptiedFoldersBottomUpButKeepsOnesStillHoldingFiles) {
  params_.Recurse = true;
  params_.DeleteEmpty = true;
  const auto match = UtcSeconds(2021, 6, 15);
  const auto other = UtcSeconds(2021, 6, 16);
  WriteFile(source_ + Native("gone/deeper/x.txt"), "x", match);
  WriteFile(source_ + Native("kept/deeper/y.txt"), "y", other);
  WriteFile(source_ + Native("kept/z.txt"), "z", match);

  Walk();

  EXPECT_FALSE(Exists(source_ + "gone"));
  EXPECT_TRUE(Exists(source_ + Native("kept/deeper/y.txt")));
  EXPECT_FALSE(Exists(source_ + Native("kept/z.txt")));
  EXPECT_TRUE(Exists(source_));
  EXPECT_EQ(ReadFile(target_ + Native("gone/deeper/x.txt")), "x");
}

TEST_F(FindFileTest, AddsWholeKilobytesRoundedHalfToEven) {
  struct SizeCase {
    std::uint64_t bytes;
    std::int64_t kb;
  };
  const std::vector<SizeCase> cases = {{100, 0},  {511, 0},  {512, 0},
                                       {513, 1},  {1536, 2}, {2560, 2},
                                       {3584, 4}, {1024, 1}, {5ULL << 30, 5242880}};
  const auto date = UtcSeconds(2021, 6, 15);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string name = source_ + "f" + std::to_string(i);
    WriteFile(name, "", date);
    std::filesystem::resize_file(testing::FsPath(name), cases[i].bytes);  // sparse on Linux
    testing::SetModified(name, date);
  }
  std::int64_t expected = 0;
  for (const SizeCase& c : cases) expected += c.kb;

  Walk();

  EXPECT_EQ(params_.MovedKB, expected);
  EXPECT_EQ(params_.MovedCount, static_cast<std::int32_t>(cases.size()));
}

TEST_F(FindFileTest, RefreshesLabelsEvery200EntriesAndYieldsEvery50AndAtEachFolderEnd) {
  const auto date = UtcSeconds(2000, 1, 1);  // matches nothing
  for (int i = 0; i < 448; ++i) WriteFile(source_ + "f" + std::to_string(i), "", date);
  // 450 entries with "." and "..".
  std::vector<int> labels_at;
  window_.on_yield = [&] { labels_at.push_back(params_.SearchedCount); };

  Walk();

  EXPECT_EQ(params_.SearchedCount, 450);
  // Yields: 9 at the multiples of 50, one more at 200 and at 400, one at the end.
  EXPECT_EQ(window_.yields, 12);
  ASSERT_EQ(window_.labels.size(), 9u);  // three labels at 200, at 400 and at the end
  EXPECT_EQ(window_.labels[0].index, 0);
  EXPECT_EQ(window_.labels[0].text, "200");
  EXPECT_EQ(window_.labels[3].text, "400");
  EXPECT_EQ(window_.labels[6].text, "450");
  EXPECT_EQ(window_.labels[7].index, 1);
  EXPECT_EQ(window_.labels[8].index, 2);
}

TEST_F(FindFileTest, GivesUpAtTheYieldThatSaysSoAndTouchesNothingAfter) {
  const auto date = UtcSeconds(2021, 6, 15);
  for (int i = 0; i < 120; ++i) WriteFile(source_ + "f" + std::to_string(i), "x", date);
  params_.DeleteEmpty = true;
  window_.abandon_at_yield = 1;  // the yield at the 50th entry

  EXPECT_EQ(Walk(), WalkEnd::Abandoned);

  EXPECT_EQ(window_.yields, 1);
  EXPECT_TRUE(window_.labels.empty());
  EXPECT_EQ(params_.SearchedCount, 50);
  // Only files among the first 50 entries moved (at most 50, as "." and
  // ".." may come anywhere in the listing, and the renames still waiting
  // for their batch are given up); the rest stayed.
  int left = 0;
  for (int i = 0; i < 120; ++i) left += Exists(source_ + "f" + std::to_string(i)) ? 1 : 0;
  EXPECT_EQ(left, 120 - params_.MovedCount);
  EXPECT_LE(params_.MovedCount, 50);
  EXPECT_TRUE(Exists(source_));
  // Every moved file has its whole entry.
  std::size_t lines = 0;
  for (std::size_t p = 0; (p = Log().find("\r\n", p)) != std::string::npos; p += 2) ++lines;
  EXPECT_EQ(lines, static_cast<std::size_t>(params_.MovedCount));
}

TEST_F(FindFileTest, NeverTakesItsOwnRunLogWhenItLiesInTheSource) {
  // Started from inside the source folder: the log is a file of the walk.
  RunLog inside;
  const std::string log_path = source_ + "FileFind.txt";
  ASSERT_TRUE(inside.Create(log_path).ok());
  // The log's own date, as the walk reads it.
  platform::FolderListing listing(source_);
  platform::FolderEntry entry;
  while (listing.Next(entry) && entry.name != "FileFind.txt") {
  }
  ASSERT_EQ(entry.name, "FileFind.txt");
  ASSERT_TRUE(entry.has_details);
  params_.Year = entry.year;
  params_.Month = entry.month;
  params_.Day = entry.day;
  WriteFile(source_ + "a.txt", "a", UtcSeconds(entry.year, entry.month, entry.day));
  WriteFile(source_ + "b.txt", "b", UtcSeconds(entry.year, entry.month, entry.day));

  FindFile(params_.SourcePath, params_, inside, window_);
  inside.Close();

  EXPECT_TRUE(Exists(log_path));
  EXPECT_FALSE(Exists(target_ + "FileFind.txt"));
  EXPECT_EQ(params_.MovedCount, 2);
  if (!LogKeepsSeparators()) GTEST_SKIP() << kSeparatorEscaped;
  const std::string log = ReadFile(log_path);
  EXPECT_NE(log.find("a.txt      MOVED to   " + target_ + "\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("b.txt      MOVED to   " + target_ + "\r\n"), std::string::npos) << log;
}

TEST(PathTextTest, AddBackslashAndTrimAtNull) {
  EXPECT_EQ(AddBackslash(Native("/in")), Native("/in/"));
  EXPECT_EQ(AddBackslash(Native("/in/")), Native("/in/"));
  EXPECT_EQ(AddBackslash(""), Native("/"));
  EXPECT_EQ(TrimAtNull(std::string("name\0\0\0", 7)), "name");
  EXPECT_EQ(TrimAtNull("whole"), "whole");
  EXPECT_EQ(TrimAtNull(std::string("\0x", 2)), "");
}

}  // namespace
}  // namespace qor
