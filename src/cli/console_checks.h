#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/message_box.h"
#include "core/window_inputs.h"

namespace qor::cli {

// The window's inputs as the command line gives them, so that the window's
// own date and path checks judge them; a check's message becomes one line
// on stderr.
class ConsoleInputs : public WindowInputs, public MessageBoxes {
 public:
  ConsoleInputs(const std::string& source, const std::string& target, int year, int month, int day);

  std::string PathText(int index) override { return paths_.at(index); }
  void SetPathText(int index, const std::string& text) override { paths_.at(index) = text; }
  std::string DateText(int index) override { return dates_.at(index); }
  void SetDateText(int index, const std::string& text) override { dates_.at(index) = text; }
  int CheckValue(CheckBox) override { return 0; }
  void SetCheckValue(CheckBox, int) override {}
  void FocusPathBox(int) override {}
  void FocusDateBox(int) override {}

  MessageAnswer ShowMessage(const std::string& prompt, const std::optional<std::string>& title,
                            MessageButtons buttons) override;

 private:
  std::array<std::string, 2> paths_;
  std::array<std::string, 3> dates_;
};

// A message of the window's checks in this program's own words, in one
// line: "source folder not found: /tmp/nosuch" for the window's "Source
// path is no Directory/Folder". A message without such words is given as
// OneLine makes it.
std::string CommandLineWords(const std::string& prompt);

// Prints "qor-cli: " and `text` as one line on stderr.
void PrintError(const std::string& text);
// The text of the last PrintError, for a refusal in JSON.
const std::string& LastError();

// A message of the checks in one line: its first line break becomes ": ",
// and every control byte of what follows (a path may hold line breaks) is
// written as in the run log.
std::string OneLine(const std::string& prompt);

}  // namespace qor::cli
