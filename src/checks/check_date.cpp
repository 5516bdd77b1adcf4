#include "checks/check_date.h"

#include <string>
#include <tuple>

#include "checks/whole_number.h"
#include "core/numbers.h"
#include "platform/locale.h"

namespace qor {

namespace {

constexpr const char* kTitle = "grrr";
constexpr const char* kNotGiven = "no valid date given";

struct DateBox {
  int index;
  const char* invalid;  // the prompt for a value this box cannot hold
  std::int32_t SearchParams::*field;
};

constexpr DateBox kBoxes[] = {
    {kDayBox, "This is not a valid day", &SearchParams::Day},
    {kMonthBox, "This is not a valid month", &SearchParams::Month},
    {kYearBox, "This is not a valid year", &SearchParams::Year},
};

bool Refuse(MessageBoxes& messages, const std::string& prompt) {
  messages.ShowMessage(prompt, std::string(kTitle));
  return false;
}

bool RefuseAt(WindowInputs& inputs, MessageBoxes& messages, int box, const std::string& text,
              const std::string& value) {
  messages.ShowMessage(text + kLineBreak + value, std::string(kTitle));
  inputs.FocusDateBox(box);
  return false;
}

}  // namespace

bool CheckDate(WindowInputs& inputs, MessageBoxes& messages, SearchParams& params) {
  for (const DateBox& box : kBoxes) {
    if (inputs.DateText(box.index).empty()) return Refuse(messages, kNotGiven);
  }
  for (const DateBox& box : kBoxes) {
    if (LeadingNumber(inputs.DateText(box.index)) == 0) return Refuse(messages, kNotGiven);
  }

  // Each value is stored as soon as it converts, so the fields keep what
  // was typed even when a later test refuses it.
  const platform::NumberFormat format = platform::CurrentNumberFormat();
  for (const DateBox& box : kBoxes) {
    const std::string text = inputs.DateText(box.index);
    const std::optional<std::int32_t> value = WholeTextToInt32(text, format);
    // A text that starts with a number but is not one as a whole (12abc) or
    // does not fit 32 bits is shown as typed: there is no value to show.
    if (!value) return RefuseAt(inputs, messages, box.index, box.invalid, text);
    params.*box.field = *value;
  }

  const std::int32_t day = params.Day;
  const std::int32_t month = params.Month;
  const std::int32_t year = params.Year;
  if (day < 1 || day > 31) {
    return RefuseAt(inputs, messages, kDayBox, "This is not a valid day", IntegerText(day));
  }
  if (month < 1 || month > 12) {
    return RefuseAt(inputs, messages, kMonthBox, "This is not a valid month", IntegerText(month));
  }
  if (month == 2) {
    // Every fourth year is a leap year here, centuries included.
    const int highest = year % 4 == 0 ? 29 : 28;
    if (day > highest) {
      return RefuseAt(inputs, messages, kDayBox, "This is not a valid day in FEB",
                      IntegerText(day));
    }
  }
  if (year < 1990) {
    return RefuseAt(inputs, messages, kYearBox, "Don't tell me that your data is so old",
                    IntegerText(year));
  }
  const platform::CalendarDate today = platform::Today();
  if (year > today.year) {
    return RefuseAt(inputs, messages, kYearBox, "Year lies in the future", IntegerText(year));
  }
  // Compared field by field: the 31st of a 30-day month is let through above
  // and must not be turned into a real date (or an error) here.
  if (std::tie(year, month, day) > std::tie(today.year, today.month, today.day)) {
    return Refuse(messages, std::string("Date is in the future") + kLineBreak +
                                platform::ShortDateText(year, month, day));
  }
  return true;
}

}  // namespace qor
