#include "platform/win32/argument_text.h"

#include "platform/process.h"
#include "platform/win32/wide.h"

namespace qor::platform {

std::wstring_view ArgumentsAfterProgramName(std::wstring_view command_line) {
  std::size_t end;
  if (command_line.starts_with(L'"')) {
    end = command_line.find(L'"', 1);
    end = end == std::wstring_view::npos ? command_line.size() : end + 1;
  } else {
    end = command_line.find_first_of(L" \t");
    if (end == std::wstring_view::npos) end = command_line.size();
  }
  command_line.remove_prefix(end);
  const std::size_t rest = command_line.find_first_not_of(L" \t");
  return rest == std::wstring_view::npos ? std::wstring_view() : command_line.substr(rest);
}

std::string ArgumentText(int, char**) {
  // argv is already split at blanks and stripped of quotes; the switches are
  // read from the text itself.
  return Narrow(ArgumentsAfterProgramName(::GetCommandLineW()));
}

}  // namespace qor::platform
