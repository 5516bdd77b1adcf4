#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/message_box.h"
#include "core/window_inputs.h"

namespace qor::testing {

// Stands in for the window: boxes are plain texts, every message and focus
// move is recorded.
class FakeWindow : public WindowInputs, public MessageBoxes {
 public:
  struct Shown {
    std::string prompt;
    std::optional<std::string> title;
    MessageButtons buttons;
  };

  std::string paths[2];
  std::string dates[3];
  int check_values[3] = {0, 0, 0};
  std::vector<Shown> shown;
  // "txtPath(0)", "txtDate(2)", ... in the order the focus moved.
  std::vector<std::string> focus_moves;

  std::string PathText(int index) override { return paths[index]; }
  void SetPathText(int index, const std::string& text) override { paths[index] = text; }
  std::string DateText(int index) override { return dates[index]; }
  void SetDateText(int index, const std::string& text) override { dates[index] = text; }
  int CheckValue(CheckBox box) override { return check_values[static_cast<int>(box)]; }
  void SetCheckValue(CheckBox box, int value) override {
    check_values[static_cast<int>(box)] = value;
  }
  void FocusPathBox(int index) override {
    focus_moves.push_back("txtPath(" + std::to_string(index) + ")");
  }
  void FocusDateBox(int index) override {
    focus_moves.push_back("txtDate(" + std::to_string(index) + ")");
  }

  MessageAnswer ShowMessage(const std::string& prompt, const std::optional<std::string>& title,
                            MessageButtons buttons) override {
    shown.push_back({prompt, title, buttons});
    return MessageAnswer::Ok;
  }
};

}  // namespace qor::testing
