// fuzz-sources: src/config/command_line.cpp src/core/numbers.cpp
//
// The command line on any text: no crash; a text with k blanks splits into
// k + 1 tokens that join back to the text; the switches only ever write
// decimal integers into the date boxes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/command_line.h"

namespace {

void Require(bool holds, const char* rule) {
  if (holds) return;
  std::fprintf(stderr, "command-line rule broken: %s\n", rule);
  std::abort();
}

class Boxes : public qor::WindowInputs, public qor::MessageBoxes {
 public:
  std::string PathText(int) override { return {}; }
  void SetPathText(int, const std::string&) override {}
  std::string DateText(int index) override { return dates[index]; }
  void SetDateText(int index, const std::string& text) override {
    Require(index >= 0 && index < 3, "only the three date boxes");
    Require(!text.empty() && text.find_first_not_of("-0123456789") == std::string::npos,
            "a date box gets a decimal integer");
    Require(std::to_string(std::stoll(text)) == text, "no leading zeros or stray signs");
    dates[index] = text;
  }
  int CheckValue(qor::CheckBox) override { return 0; }
  void SetCheckValue(qor::CheckBox, int) override {}
  void FocusPathBox(int) override {}
  void FocusDateBox(int) override {}
  qor::MessageAnswer ShowMessage(const std::string&, const std::optional<std::string>&,
                                 qor::MessageButtons) override {
    ++messages;
    return qor::MessageAnswer::Ok;
  }
  std::string dates[3];
  int messages = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> tokens;
  const int count = qor::EvalCommandLine(text, tokens);
  std::size_t blanks = 0;
  for (const char c : text) blanks += c == ' ' ? 1 : 0;
  if (blanks == 0) {
    Require(count == 0 && tokens.empty(), "no blank, no tokens");
  } else {
    Require(static_cast<std::size_t>(count) == blanks + 1, "k blanks give k + 1 tokens");
    std::string joined;
    for (std::size_t i = 0; i < tokens.size(); ++i) joined += (i ? " " : "") + tokens[i];
    Require(joined == text, "tokens join back to the text");
  }
  Boxes boxes;
  const bool auto_start = qor::ApplyCommandLine(text, boxes, boxes);
  if (text.find('?') != std::string::npos) {
    Require(boxes.messages == 1 && !auto_start, "a question mark only shows the usage");
  }
  return 0;
}
