#pragma once

#include <string>
#include <vector>

#include "core/window_inputs.h"

namespace qor::testing {

// Window inputs in memory. It records every change, and models the change
// handlers of the rekurse and delete-folder boxes: they copy "value is 1" into
// their flag, and run only when the value changes.
class FakeWindowInputs : public WindowInputs {
 public:
  std::string path[2];
  std::string date[3];
  int check[3] = {0, 0, 0};
  bool recurse = false;
  bool delete_empty = false;
  std::vector<std::string> calls;

  std::string PathText(int index) override { return path[index]; }
  void SetPathText(int index, const std::string& text) override {
    calls.push_back("path " + std::to_string(index));
    path[index] = text;
  }
  std::string DateText(int index) override { return date[index]; }
  void SetDateText(int index, const std::string& text) override {
    calls.push_back("date " + std::to_string(index) + " " + text);
    date[index] = text;
  }
  int CheckValue(CheckBox box) override { return check[static_cast<int>(box)]; }
  void SetCheckValue(CheckBox box, int value) override {
    calls.push_back("check " + std::string(Name(box)) + " " + std::to_string(value));
    int& current = check[static_cast<int>(box)];
    if (current == value) return;
    current = value;
    if (box == CheckBox::Rekurse) recurse = value == 1;
    if (box == CheckBox::DelFolderMove) delete_empty = value == 1;
  }
  void FocusPathBox(int) override {}
  void FocusDateBox(int) override {}

  static const char* Name(CheckBox box) {
    switch (box) {
      case CheckBox::AddDateTarget:
        return "AddDate";
      case CheckBox::Rekurse:
        return "Rekurse";
      case CheckBox::DelFolderMove:
        return "DelMov";
    }
    return "?";
  }
};

}  // namespace qor::testing
