#pragma once

#include <string>

namespace qor::platform {

// Adopts the user's locale for numbers and dates (once, at start-up).
void UseUserLocale();

// How the current locale writes numbers.
struct NumberFormat {
  std::string decimal_point = ".";
  std::string thousands_separator;  // empty when the locale groups no digits
};
NumberFormat CurrentNumberFormat();

struct CalendarDate {
  int year = 0;
  int month = 0;
  int day = 0;
};

// Today's date in local time.
CalendarDate Today();

// A date in the locale's short date format (strftime "%x").
std::string ShortDateText(int year, int month, int day);

}  // namespace qor::platform
