// qor-cli: the move run for scripts and schedulers, without a window.

#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console_checks.h"
#include "cli/options.h"
#include "core/failure_text.h"
#include "platform/console.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "qor_version.h"

int main(int argc, char** argv) {
  using namespace qor::cli;
  const std::vector<std::string> arguments = qor::platform::ProgramArguments(argc, argv);
  const ParsedArguments parsed = ParseArguments(arguments);
  if (!parsed.error.empty()) {
    PrintError(parsed.error + " (see qor-cli --help)");
    return kRefused;
  }
  switch (parsed.options.command) {
    case Command::Help:
      qor::platform::WriteText(qor::platform::StandardStream::Output, HelpText());
      return 0;
    case Command::Version:
      qor::platform::WriteText(qor::platform::StandardStream::Output,
                               "qor-cli " QOR_VERSION_TEXT "\n" QOR_COPYRIGHT "\n" QOR_LICENSE_LINE
                               "\n");
      return 0;
    case Command::Move:
    case Command::Undo:
      break;
  }
  qor::platform::UseUserLocale();
  qor::platform::RaiseOpenFileLimit();
  qor::platform::ReportFileSizeLimitAsError();
  qor::platform::CatchStopRequests();
  try {
    return parsed.options.command == Command::Move ? MoveCommand(parsed.options)
                                                   : UndoCommand(parsed.options);
  } catch (...) {
    PrintError("stopped: " + qor::CurrentFailureText());
    return kSomeFailed;
  }
}
