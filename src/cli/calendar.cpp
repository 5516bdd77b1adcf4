#include "cli/calendar.h"

#include <cstdio>

#include "platform/civil_days.h"

namespace qor::cli {

std::optional<Date> ParseDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const auto number = [&](std::size_t from, std::size_t count) -> std::optional<int> {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  const auto year = number(0, 4);
  const auto month = number(5, 2);
  const auto day = number(8, 2);
  if (!year || !month || !day) return std::nullopt;
  return Date{*year, *month, *day};
}

std::string DateText(const Date& date) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", date.year, date.month, date.day);
  return buffer;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

Date AddDays(const Date& date, std::int64_t days) {
  const platform::CivilDate later =
      platform::CivilFromDays(platform::DaysFromCivil({date.year, date.month, date.day}) + days);
  return {static_cast<int>(later.year), later.month, later.day};
}

}  // namespace qor::cli
