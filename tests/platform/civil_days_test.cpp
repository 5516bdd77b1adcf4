#include "platform/civil_days.h"

#include <gtest/gtest.h>

namespace qor::platform {
namespace {

TEST(CivilDays, KnownDaysBothWays) {
  struct Case {
    CivilDate date;
    std::int64_t days;
  };
  // Month ends, leap days of the century rules, and both sides of the epoch.
  const Case cases[] = {
      {{1970, 1, 1}, 0},      {{1969, 12, 31}, -1},   {{2000, 2, 29}, 11016}, {{2000, 3, 1}, 11017},
      {{1900, 3, 1}, -25508}, {{2100, 2, 28}, 47540}, {{1, 1, 1}, -719162},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DaysFromCivil(c.date), c.days) << c.date.year << "-" << c.date.month;
    const CivilDate back = CivilFromDays(c.days);
    EXPECT_EQ(back.year, c.date.year);
    EXPECT_EQ(back.month, c.date.month);
    EXPECT_EQ(back.day, c.date.day);
  }
}

TEST(CivilDays, EveryDayOfFourCenturiesFollowsTheDayBefore) {
  EXPECT_EQ(DaysFromCivil({2200, 1, 1}) - DaysFromCivil({1800, 1, 1}), 146097);
  CivilDate previous = CivilFromDays(DaysFromCivil({1799, 12, 31}));
  for (std::int64_t days = DaysFromCivil({1800, 1, 1}); days < DaysFromCivil({2200, 1, 1});
       ++days) {
    const CivilDate date = CivilFromDays(days);
    ASSERT_EQ(DaysFromCivil(date), days);
    const bool next_day =
        date.year == previous.year && date.month == previous.month && date.day == previous.day + 1;
    const bool next_month =
        date.day == 1 &&
        ((date.year == previous.year && date.month == previous.month + 1) ||
         (date.year == previous.year + 1 && date.month == 1 && previous.month == 12));
    ASSERT_TRUE(next_day || next_month) << date.year << "-" << date.month << "-" << date.day;
    previous = date;
  }
}

}  // namespace
}  // namespace qor::platform
