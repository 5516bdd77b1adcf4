#include "cli/console_checks.h"

#include "core/numbers.h"
#include "platform/console.h"
#include "run/log_escapes.h"

namespace qor::cli {

ConsoleInputs::ConsoleInputs(const std::string& source, const std::string& target, int year,
                             int month, int day)
    : paths_{source, target}, dates_{IntegerText(day), IntegerText(month), IntegerText(year)} {}

MessageAnswer ConsoleInputs::ShowMessage(const std::string& prompt,
                                         const std::optional<std::string>&, MessageButtons) {
  PrintError(OneLine(prompt));
  return MessageAnswer::Ok;
}

std::string OneLine(const std::string& prompt) {
  const std::size_t cut = prompt.find(kLineBreak);
  if (cut == std::string::npos) return LogText(prompt);
  const std::string rest = prompt.substr(cut + 2);
  return LogText(prompt.substr(0, cut)) + (rest.empty() ? "" : ": " + LogText(rest));
}

void PrintError(const std::string& text) {
  platform::WriteText(platform::StandardStream::Error, "qor-cli: " + text + "\n");
}

}  // namespace qor::cli
