#include "window/tool_tips.h"

namespace qor {

const char* ToolTipOf(Control control) {
  switch (control) {
    case Control::optEqual1:
      return "Files last written with year, month and day each smaller than the date's: "
             "15 June 2021 takes 14 May 2020, not 20 December 2020";
    case Control::optEqual2:
      return "Files last written with year, month and day each greater than the date's: "
             "10 January 2020 takes 15 June 2021, not 5 January 2021";
    case Control::txtDate0:
      return "Day: 1 to 31 (February: up to 29 in a year divisible by 4, else 28)";
    case Control::txtDate1:
      return "Month: 1 to 12";
    case Control::txtDate2:
      return "Year: 1990 to this year; the whole date may not lie in the future";
    default:
      return nullptr;
  }
}

}  // namespace qor
