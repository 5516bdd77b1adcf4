#pragma once

#include <string_view>

namespace qor::platform {

// What follows the program name in a Windows command line, as the C
// runtime hands it to WinMain: the name ends at the closing quote when it
// starts with one, else at the first blank or tab; the blanks and tabs after
// it go too, and the rest stays exactly as it is.
std::wstring_view ArgumentsAfterProgramName(std::wstring_view command_line);

}  // namespace qor::platform
