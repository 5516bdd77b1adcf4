#pragma once

#include <string>

namespace qor {

// The window's three option check boxes. Values: 0 unchecked, 1 checked,
// 2 greyed.
enum class CheckBox { AddDateTarget, Rekurse, DelFolderMove };

// Index of the path boxes (txtPath) and date boxes (txtDate).
inline constexpr int kSourceBox = 0;
inline constexpr int kTargetBox = 1;
inline constexpr int kDayBox = 0;
inline constexpr int kMonthBox = 1;
inline constexpr int kYearBox = 2;

// The window's inputs as the checks, the settings and the run driver see them.
// The window implements it; tests replace it. Texts are byte strings (paths as
// the file system holds them).
class WindowInputs {
 public:
  virtual ~WindowInputs() = default;

  virtual std::string PathText(int index) = 0;
  virtual void SetPathText(int index, const std::string& text) = 0;
  virtual std::string DateText(int index) = 0;
  virtual void SetDateText(int index, const std::string& text) = 0;
  // Setting a value that differs from the current one runs the box's change
  // handler.
  virtual int CheckValue(CheckBox box) = 0;
  virtual void SetCheckValue(CheckBox box, int value) = 0;
  // Moving the focus before the window is shown only remembers the box, which
  // takes the focus when the window appears.
  virtual void FocusPathBox(int index) = 0;
  virtual void FocusDateBox(int index) = 0;
};

}  // namespace qor
