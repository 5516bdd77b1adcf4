#pragma once

#include <cstdint>

namespace qor::platform {

struct CivilDate {
  std::int64_t year;  // wider than any int: a far date must not wrap
  int month;          // 1 to 12
  int day;            // 1 to 31
};

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and
// back: plain arithmetic over eras of 400 years (after Howard Hinnant's civil
// calendar algorithms), without the time-zone machinery of the C library.
constexpr std::int64_t DaysFromCivil(const CivilDate& date) {
  const std::int64_t year = date.year - (date.month <= 2 ? 1 : 0);
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year =
      (153 * (date.month + (date.month > 2 ? -3 : 9)) + 2) / 5 + date.day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

constexpr CivilDate CivilFromDays(std::int64_t days) {
  days += 719468;  // shift the epoch to 0000-03-01
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t day_of_era = days - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t month_index = (5 * day_of_year + 2) / 153;  // 0 = March
  const int day = static_cast<int>(day_of_year - (153 * month_index + 2) / 5 + 1);
  const int month = static_cast<int>(month_index < 10 ? month_index + 3 : month_index - 9);
  const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  return {year, month, day};
}

}  // namespace qor::platform
