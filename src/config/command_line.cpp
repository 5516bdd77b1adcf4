#include "config/command_line.h"

#include <string_view>

#include "core/numbers.h"

namespace qor {

namespace {

bool IsBlankOnly(std::string_view text) {
  return text.find_first_not_of(' ') == text.npos;
}

// The date box a switch token sets; -1 for any other token. Letter case
// counts.
int DateBoxOfSwitch(std::string_view token) {
  const std::string_view prefix = token.substr(0, 2);
  if (prefix == "/D") return kDayBox;
  if (prefix == "/M") return kMonthBox;
  if (prefix == "/Y") return kYearBox;
  return -1;
}

}  // namespace

int EvalCommandLine(const std::string& command_line, std::vector<std::string>& sparms) {
  // A text without a blank gives no tokens at all, so a lone switch is not
  // applied.
  if (command_line.find(' ') == std::string::npos) return 0;
  sparms.clear();
  std::string_view rest = command_line;
  for (;;) {
    const std::size_t blank = rest.find(' ');
    sparms.emplace_back(rest.substr(0, blank));
    if (blank == std::string_view::npos) break;
    rest.remove_prefix(blank + 1);
  }
  return static_cast<int>(sparms.size());
}

bool ApplyCommandLine(const std::string& command_line, WindowInputs& inputs,
                      MessageBoxes& messages) {
  bool auto_start = false;
  if (IsBlankOnly(command_line)) return auto_start;
  if (command_line.find('?') != std::string::npos) {
    messages.ShowMessage(kUsageText, kUsageTitle, MessageButtons::Ok);
    return auto_start;
  }
  std::vector<std::string> sparms;
  const int count = EvalCommandLine(command_line, sparms);
  for (int i = 0; i < count; ++i) {
    const std::string_view token = sparms[static_cast<std::size_t>(i)];
    if (token == "auto") {
      auto_start = true;
      continue;
    }
    const int box = DateBoxOfSwitch(token);
    if (box < 0) continue;
    // Beyond the 32-bit range the value is held at the nearest end of it.
    const std::int32_t value = RoundClampInt32(LeadingNumber(token.substr(2)));
    inputs.SetDateText(box, IntegerText(value));
  }
  return auto_start;
}

}  // namespace qor
