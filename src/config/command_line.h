#pragma once

#include <string>
#include <vector>

#include "core/message_box.h"
#include "core/window_inputs.h"

namespace qor {

// The usage text and its title.
inline constexpr const char* kUsageText = "qor /D<day> /M<month> /Y<year> [auto]";
inline constexpr const char* kUsageTitle = "Usage of QoR";

// Splits the argument text at every single blank into `sparms`; returns the
// number of tokens, 0 (sparms untouched) when the text holds no blank.
int EvalCommandLine(const std::string& command_line, std::vector<std::string>& sparms);

// Applies the switches /D, /M, /Y to the date boxes and "?" (usage message).
// Returns AutoStart: true when the token "auto" was met.
bool ApplyCommandLine(const std::string& command_line, WindowInputs& inputs,
                      MessageBoxes& messages);

}  // namespace qor
