#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qor::cli {

struct Date {
  int year = 0;
  int month = 0;
  int day = 0;
};

// A date written YYYY-MM-DD (four, two and two digits); nullopt for any
// other text. The parts are not checked against the calendar.
std::optional<Date> ParseDate(std::string_view text);

// YYYY-MM-DD.
std::string DateText(const Date& date);

// Days of a month in the Gregorian calendar.
int DaysInMonth(int year, int month);

// The date `days` days after `date` (before it when negative).
Date AddDays(const Date& date, std::int64_t days);

}  // namespace qor::cli
