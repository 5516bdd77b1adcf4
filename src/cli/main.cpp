// qor-cli: the move run for scripts and schedulers, without a window.

#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/console_checks.h"
#include "cli/options.h"
#include "cli/output.h"
#include "core/failure_text.h"
#include "platform/console.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "qor_version.h"

namespace {

// A refused start with --json: one object on stdout too, so that a script
// reading stdout learns why nothing happened.
int Refused(const std::vector<std::string>& arguments, const std::string& message) {
  using namespace qor::cli;
  bool json = false;
  for (const std::string& argument : arguments) {
    if (argument == "--") break;
    json = json || argument == "--json";
  }
  if (json) {
    const std::string command =
        !arguments.empty() && (arguments[0] == "move" || arguments[0] == "undo") ? arguments[0]
                                                                                 : "";
    qor::platform::WriteText(qor::platform::StandardStream::Output,
                             "{\"command\":" + (command.empty() ? "null" : JsonString(command)) +
                                 ",\"refused\":true,\"message\":" + JsonString(message) +
                                 ",\"exit_status\":" + std::to_string(kRefused) + "}\n");
  }
  return kRefused;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qor::cli;
  const std::vector<std::string> arguments = qor::platform::ProgramArguments(argc, argv);
  const ParsedArguments parsed = ParseArguments(arguments);
  if (!parsed.error.empty()) {
    PrintError(parsed.error + " (see qor-cli --help)");
    return Refused(arguments, parsed.error);
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
    const int status = parsed.options.command == Command::Move ? MoveCommand(parsed.options)
                                                               : UndoCommand(parsed.options);
    return status == kRefused ? Refused(arguments, LastError()) : status;
  } catch (...) {
    PrintError("stopped: " + qor::CurrentFailureText());
    return kSomeFailed;
  }
}
