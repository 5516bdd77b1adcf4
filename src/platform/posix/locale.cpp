#include "platform/locale.h"

#include <clocale>
#include <ctime>

namespace qor::platform {

void UseUserLocale() {
  std::setlocale(LC_ALL, "");
}

NumberFormat CurrentNumberFormat() {
  NumberFormat format;
  if (const std::lconv* conv = std::localeconv()) {
    if (conv->decimal_point != nullptr && conv->decimal_point[0] != '\0') {
      format.decimal_point = conv->decimal_point;
    }
    // A locale that sets a separator but no grouping groups nothing.
    if (conv->thousands_sep != nullptr && conv->grouping != nullptr && conv->grouping[0] > 0) {
      format.thousands_separator = conv->thousands_sep;
    }
  }
  return format;
}

CalendarDate Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::string ShortDateText(int year, int month, int day) {
  std::tm date{};
  date.tm_year = year - 1900;
  date.tm_mon = month - 1;
  date.tm_mday = day;
  char buffer[128];
  const std::size_t length = std::strftime(buffer, sizeof buffer, "%x", &date);
  return std::string(buffer, length);
}

}  // namespace qor::platform
