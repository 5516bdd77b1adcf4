#pragma once

#include <cstddef>
#include <string>

#include "core/message_box.h"

namespace qor {

// The controls the form reads and writes, named as the window names them.
// Labels whose caption never changes are left out: only a view draws them.
enum class Control {
  btnGo,
  txtDate0,
  txtDate1,
  txtDate2,
  txtPath0,
  txtPath1,
  lblNumber0,
  lblNumber1,
  lblNumber2,
  optEqual0,
  optEqual1,
  optEqual2,
  chkrekurse,
  Command1,
  chkAddDateTarget,
  chkDelFolderMove,
};
inline constexpr std::size_t kControlCount =
    static_cast<std::size_t>(Control::chkDelFolderMove) + 1;

// Element `index` of the control arrays txtPath, txtDate, lblNumber and
// optEqual.
constexpr Control PathBox(int index) {
  return static_cast<Control>(static_cast<int>(Control::txtPath0) + index);
}
constexpr Control DateBox(int index) {
  return static_cast<Control>(static_cast<int>(Control::txtDate0) + index);
}
constexpr Control CounterLabel(int index) {
  return static_cast<Control>(static_cast<int>(Control::lblNumber0) + index);
}
constexpr Control OptionButton(int index) {
  return static_cast<Control>(static_cast<int>(Control::optEqual0) + index);
}

// Why the window is asked to close: by the user's own close command (close
// box, window menu, shortcut) or for another reason (session end, code).
enum class CloseReason { UserCommand, Other };

// What a view passes on to the form: the handlers of the window's events.
class FormEvents {
 public:
  virtual ~FormEvents() = default;

  virtual void btnGo_Click() = 0;
  // Run whenever the box's value changes, by the user or by code.
  virtual void chkrekurse_Click() = 0;
  virtual void chkDelFolderMove_Click() = 0;
  // The user selected option button `index`.
  virtual void optEqual_Click(int index) = 0;
  virtual void Timer1_Timer() = 0;
  virtual void Command1_Click() = 0;
  // A close was requested; true cancels it. When it goes ahead the view
  // calls Form_Unload once, takes away an open message box and from then on
  // answers IsClosing with true.
  virtual bool Form_QueryUnload(CloseReason reason) = 0;
  virtual void Form_Unload() = 0;
};

// The window as the form sees it, whatever toolkit draws it. Texts are byte
// strings: UTF-8 for captions, paths as the file system holds them, and a
// view must hand back every byte it was given.
class FormView {
 public:
  virtual ~FormView() = default;

  // Where the window's events go; nullptr sends them nowhere.
  virtual void SetEvents(FormEvents* events) = 0;

  // The text of a text box, or the caption of a label or button.
  virtual std::string Text(Control control) = 0;
  virtual void SetText(Control control, const std::string& text) = 0;
  // A check box: 0 clear, 1 ticked, 2 greyed; setting a different value runs
  // its change handler. An option button: 1 selected, 0 not.
  virtual int Value(Control control) = 0;
  virtual void SetValue(Control control, int value) = 0;
  virtual void SetEnabled(Control control, bool enabled) = 0;
  // A read-only text box keeps its look, its focus and its selection.
  virtual void SetReadOnly(Control control, bool read_only) = 0;
  virtual void SetFocus(Control control) = 0;

  // Shows the window, which until then stays hidden.
  virtual void ShowWindow() = 0;
  // Picture `frame` (1 unlit, 2 lit, 3 white lamp) as the window icon.
  virtual void SetIcon(int frame) = 0;

  // A modal box; `prompt` breaks its lines with CR LF. Yes/No boxes carry the
  // question icon and have No preselected.
  virtual MessageAnswer ShowMessage(const std::string& prompt, const std::string& title,
                                    MessageButtons buttons) = 0;

  // Timer1: ticks every `milliseconds` until stopped.
  virtual void StartTimer(int milliseconds) = 0;
  virtual void StopTimer() = 0;

  // Handles every waiting event of the window, then returns.
  virtual void DoEvents() = 0;
  // True once a close has gone ahead.
  virtual bool IsClosing() = 0;
};

}  // namespace qor
