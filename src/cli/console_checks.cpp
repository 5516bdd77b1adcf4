#include "cli/console_checks.h"

#include "core/numbers.h"
#include "platform/console.h"
#include "platform/files.h"
#include "run/log_escapes.h"

namespace qor::cli {

ConsoleInputs::ConsoleInputs(const std::string& source, const std::string& target, int year,
                             int month, int day)
    : paths_{source, target}, dates_{IntegerText(day), IntegerText(month), IntegerText(year)} {}

MessageAnswer ConsoleInputs::ShowMessage(const std::string& prompt,
                                         const std::optional<std::string>&, MessageButtons) {
  PrintError(CommandLineWords(prompt));
  return MessageAnswer::Ok;
}

std::string CommandLineWords(const std::string& prompt) {
  const std::size_t cut = prompt.find(kLineBreak);
  const std::string head = prompt.substr(0, cut);
  const std::string path = cut == std::string::npos ? std::string() : prompt.substr(cut + 2);
  const std::string shown = LogText(path);
  for (const char* const box : {"Source", "Target"}) {
    const std::string word = box[0] == 'S' ? "source" : "target";
    const std::string operand = box[0] == 'S' ? "SOURCE" : "TARGET";
    if (head == "No " + std::string(box) + " path given")
      return operand + " is empty; name a folder";
    if (head == box + std::string(" path is no Directory/Folder") ||
        head == box + std::string(" does not exist")) {
      return platform::EntryExists(path) ? word + " is not a folder: " + shown
                                         : word + " folder not found: " + shown;
    }
    if (head == box + std::string(" path contains errors")) {
      return word + " path is too long for the system: " + shown;
    }
  }
  if (head == "Source and Target are identical") return "SOURCE and TARGET are the same folder";
  if (head == "zyclic copy") {
    return "TARGET lies inside SOURCE, where the run would take its own moves again";
  }
  return OneLine(prompt);
}

std::string OneLine(const std::string& prompt) {
  const std::size_t cut = prompt.find(kLineBreak);
  if (cut == std::string::npos) return LogText(prompt);
  const std::string rest = prompt.substr(cut + 2);
  return LogText(prompt.substr(0, cut)) + (rest.empty() ? "" : ": " + LogText(rest));
}

namespace {
std::string last_error;
}  // namespace

const std::string& LastError() {
  return last_error;
}

void PrintError(const std::string& text) {
  last_error = text;
  platform::WriteText(platform::StandardStream::Error, "qor-cli: " + text + "\n");
}

}  // namespace qor::cli
