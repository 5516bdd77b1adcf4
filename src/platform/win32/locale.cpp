#include "platform/locale.h"

#include <clocale>

#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

std::wstring LocaleText(LCTYPE type) {
  wchar_t buffer[86];
  const int length = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, 86);
  return length > 1 ? std::wstring(buffer, static_cast<std::size_t>(length - 1)) : L"";
}

}  // namespace

void UseUserLocale() {
  // The API calls below read the user's locale each time; the C runtime's
  // own conversions follow it too.
  std::setlocale(LC_ALL, "");
}

NumberFormat CurrentNumberFormat() {
  NumberFormat format;
  if (const std::wstring point = LocaleText(LOCALE_SDECIMAL); !point.empty()) {
    format.decimal_point = Narrow(point);
  }
  // A grouping of "0" groups nothing, whatever the separator.
  const std::wstring grouping = LocaleText(LOCALE_SGROUPING);
  if (!grouping.empty() && grouping[0] != L'0')
    format.thousands_separator = Narrow(LocaleText(LOCALE_STHOUSAND));
  return format;
}

CalendarDate Today() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

std::string ShortDateText(int year, int month, int day) {
  SYSTEMTIME date{};
  date.wYear = static_cast<WORD>(year);
  date.wMonth = static_cast<WORD>(month);
  date.wDay = static_cast<WORD>(day);
  wchar_t buffer[128];
  const int length = ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &date, nullptr,
                                       buffer, 128, nullptr);
  return length > 1 ? Narrow(std::wstring_view(buffer, static_cast<std::size_t>(length - 1))) : "";
}

}  // namespace qor::platform
