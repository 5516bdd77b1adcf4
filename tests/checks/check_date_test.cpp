#include "checks/check_date.h"

#include <gtest/gtest.h>

#include <clocale>
#include <optional>
#include <string>
#include <vector>

#include "fake_window.h"
#include "platform/locale.h"

namespace qor {
namespace {

using testing::FakeWindow;

// Day, Month and Year before the check; a field still holding it was never
// stored.
constexpr std::int32_t kUntouched = -77;

struct DateCase {
  std::string name;
  std::string day, month, year;
  bool accepted;
  std::string prompt;                    // when refused
  std::vector<std::string> focus;        // focus moves expected
  std::int32_t stored_day = kUntouched;  // the fields afterwards
  std::int32_t stored_month = kUntouched;
  std::int32_t stored_year = kUntouched;
};

std::string Line(const std::string& text, const std::string& value) {
  return text + "\r\n" + value;
}

const std::vector<std::string> kNoFocus;
const std::vector<std::string> kDayFocus{"txtDate(0)"};
const std::vector<std::string> kMonthFocus{"txtDate(1)"};
const std::vector<std::string> kYearFocus{"txtDate(2)"};

std::vector<DateCase> FixedCases() {
  const std::string none = "no valid date given";
  return {
      {"EmptyMonthBeforeAnyRange", "99", "", "1800", false, none, kNoFocus},
      {"EmptyDay", "", "6", "2021", false, none, kNoFocus},
      {"EmptyYear", "15", "6", "", false, none, kNoFocus},
      {"ZeroDay", "0", "6", "2021", false, none, kNoFocus},
      {"ZerosDay", "00", "6", "2021", false, none, kNoFocus},
      {"BlankDay", "   ", "6", "2021", false, none, kNoFocus},
      {"LettersMonth", "15", "jun", "2021", false, none, kNoFocus},
      {"ZeroYear", "15", "6", "0000", false, none, kNoFocus},
      {"NegativeDay", "-5", "6", "2021", false, Line("This is not a valid day", "-5"), kDayFocus,
       -5, 6, 2021},
      {"Day32", "32", "6", "2021", false, Line("This is not a valid day", "32"), kDayFocus, 32, 6,
       2021},
      {"DayRoundsToZero", "0.4", "6", "2021", false, Line("This is not a valid day", "0"),
       kDayFocus, 0, 6, 2021},
      {"Month13", "15", "13", "2021", false, Line("This is not a valid month", "13"), kMonthFocus,
       15, 13, 2021},
      {"FebruaryDayShownWithoutZeros", "030", "2", "2021", false,
       Line("This is not a valid day in FEB", "30"), kDayFocus, 30, 2, 2021},
      {"Feb29InCommonYear", "29", "2", "2021", false, Line("This is not a valid day in FEB", "29"),
       kDayFocus, 29, 2, 2021},
      {"Feb30InLeapYear", "30", "2", "2020", false, Line("This is not a valid day in FEB", "30"),
       kDayFocus, 30, 2, 2020},
      {"FebruaryBeforeOldYear", "30", "2", "1985", false,
       Line("This is not a valid day in FEB", "30"), kDayFocus, 30, 2, 1985},
      {"CenturyCountsAsLeap", "29", "2", "1900", false,
       Line("Don't tell me that your data is so old", "1900"), kYearFocus, 29, 2, 1900},
      {"Year1989", "1", "1", "1989", false, Line("Don't tell me that your data is so old", "1989"),
       kYearFocus, 1, 1, 1989},
      {"Year1990", "1", "1", "1990", true, "", kNoFocus, 1, 1, 1990},
      {"Feb29InLeapYear", "29", "2", "2020", true, "", kNoFocus, 29, 2, 2020},
      {"DayOfThirtyDayMonth", "31", "4", "2020", true, "", kNoFocus, 31, 4, 2020},
      {"BlanksAroundAndHalfToEven", " 2.5 ", "\t6", "2021 ", true, "", kNoFocus, 2, 6, 2021},
      // Texts that start with a number but are not one as a whole: shown as
      // typed, the fields converted before them kept.
      {"DayWithLetters", "12abc", "6", "2021", false, Line("This is not a valid day", "12abc"),
       kDayFocus},
      {"MonthTooLarge", "15", "99999999999", "2021", false,
       Line("This is not a valid month", "99999999999"), kMonthFocus, 15},
      {"YearGroupedInPlainLocale", "15", "6", "2,021", false,
       Line("This is not a valid year", "2,021"), kYearFocus, 15, 6},
      {"YearBeyond32Bits", "15", "6", "4294969317", false,
       Line("This is not a valid year", "4294969317"), kYearFocus, 15, 6},
  };
}

// Cases that depend on today's date.
std::vector<DateCase> TodayCases() {
  const platform::CalendarDate today = platform::Today();
  const auto text = [](int value) { return std::to_string(value); };
  std::vector<DateCase> cases{
      {"Today", text(today.day), text(today.month), text(today.year), true, "", kNoFocus, today.day,
       today.month, today.year},
      {"NextYear", "1", "1", text(today.year + 1), false,
       Line("Year lies in the future", text(today.year + 1)), kYearFocus, 1, 1, today.year + 1},
  };
  // A later day of this year, unless today is the last one.
  int month = today.month + 1;
  int day = 1;
  if (month > 12) {
    month = 12;
    day = today.day + 1;
  }
  if (day <= 31) {
    cases.push_back({"LaterThisYear", text(day), text(month), text(today.year), false,
                     Line("Date is in the future", platform::ShortDateText(today.year, month, day)),
                     kNoFocus, day, month, today.year});
  }
  // 31 April of this year lies ahead exactly until April is over; it is never
  // made into 1 May.
  const bool april_31_ahead = today.month <= 4;
  cases.push_back({"April31ThisYear", "31", "4", text(today.year), !april_31_ahead,
                   april_31_ahead
                       ? Line("Date is in the future", platform::ShortDateText(today.year, 4, 31))
                       : "",
                   kNoFocus, 31, 4, today.year});
  return cases;
}

void RunCase(const DateCase& c) {
  SCOPED_TRACE(c.name);
  FakeWindow window;
  window.dates[0] = c.day;
  window.dates[1] = c.month;
  window.dates[2] = c.year;
  SearchParams params;
  params.Day = params.Month = params.Year = kUntouched;

  EXPECT_EQ(CheckDate(window, window, params), c.accepted);

  if (c.accepted) {
    EXPECT_TRUE(window.shown.empty());
  } else {
    ASSERT_EQ(window.shown.size(), 1u);
    EXPECT_EQ(window.shown[0].prompt, c.prompt);
    EXPECT_EQ(window.shown[0].title, std::optional<std::string>("grrr"));
    EXPECT_EQ(window.shown[0].buttons, MessageButtons::Ok);
  }
  EXPECT_EQ(window.focus_moves, c.focus);
  EXPECT_EQ(params.Day, c.stored_day);
  EXPECT_EQ(params.Month, c.stored_month);
  EXPECT_EQ(params.Year, c.stored_year);
  // The boxes keep what was typed.
  EXPECT_EQ(window.dates[0], c.day);
  EXPECT_EQ(window.dates[1], c.month);
  EXPECT_EQ(window.dates[2], c.year);
}

TEST(CheckDate, RefusesOrAcceptsWithTheRightMessageFocusAndStores) {
  // "2,021" is no number where the locale groups no digits (Linux's plain
  // locale); Windows' own formats group them, and there it is 2021.
  const bool groups = !platform::CurrentNumberFormat().thousands_separator.empty();
  for (const DateCase& c : FixedCases()) {
    if (groups && c.name == "YearGroupedInPlainLocale") continue;
    RunCase(c);
  }
}

TEST(CheckDate, ComparesWithTodaysDate) {
  for (const DateCase& c : TodayCases()) RunCase(c);
}

TEST(CheckDate, ConvertsWithTheUsersNumberFormat) {
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
    GTEST_SKIP() << "no de_DE.UTF-8 locale installed";
  }
  FakeWindow window;
  window.dates[0] = "1,5";  // half to even: 2
  window.dates[1] = "6";
  window.dates[2] = "2.020";
  SearchParams params;
  const bool accepted = CheckDate(window, window, params);
  window.dates[2] = "2,020.5";  // grouped the other way round
  const bool accepted_other_way = CheckDate(window, window, params);
  std::setlocale(LC_ALL, "C");

  EXPECT_TRUE(accepted);
  EXPECT_FALSE(accepted_other_way);
  ASSERT_EQ(window.shown.size(), 1u);
  EXPECT_EQ(window.shown[0].prompt, "This is not a valid year\r\n2,020.5");
  EXPECT_EQ(params.Day, 2);
  EXPECT_EQ(params.Month, 6);
  EXPECT_EQ(params.Year, 2020);
}

}  // namespace
}  // namespace qor
