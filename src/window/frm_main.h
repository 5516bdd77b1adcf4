#pragma once

#include <optional>
#include <string>

#include "run/move_run.h"
#include "run/search_params.h"
#include "window/form_view.h"

namespace qor {

// The program's only window, whatever toolkit draws it: the handlers of its
// controls, what is locked while a run goes on, the lamp icon's frames,
// start-up and the close question. It reaches its controls through a view.
class frmMain : public RunWindow, public FormEvents {
 public:
  // `view` must outlive the form; it sends its events here until the form
  // is gone.
  explicit frmMain(FormView& view);
  ~frmMain() override;
  frmMain(const frmMain&) = delete;
  frmMain& operator=(const frmMain&) = delete;

  // Start-up, before the window is shown. `argument_text` is the program's
  // arguments joined with blanks.
  void Form_Load(const std::string& argument_text);
  // Shows the window with the focus where start-up left it (GO by default).
  void ShowAfterStartUp();

  SearchParams& Params() { return params_; }
  bool IsRunActive() const { return RunActive; }
  int CurrentIconFrame() const { return IconFrame; }

  // FormEvents
  void btnGo_Click() override;
  void chkrekurse_Click() override;
  void chkDelFolderMove_Click() override;
  void optEqual_Click(int index) override;
  void Timer1_Timer() override;
  void Command1_Click() override;
  bool Form_QueryUnload(CloseReason reason) override;
  void Form_Unload() override;

  // MessageBoxes
  MessageAnswer ShowMessage(const std::string& prompt,
                            const std::optional<std::string>& title = std::nullopt,
                            MessageButtons buttons = MessageButtons::Ok) override;

  // WindowInputs
  std::string PathText(int index) override;
  void SetPathText(int index, const std::string& text) override;
  std::string DateText(int index) override;
  void SetDateText(int index, const std::string& text) override;
  int CheckValue(CheckBox box) override;
  void SetCheckValue(CheckBox box, int value) override;
  void FocusPathBox(int index) override;
  void FocusDateBox(int index) override;

  // WalkObserver
  void SetCounterLabel(int index, const std::string& text) override;
  bool Yield() override;

  // RunWindow
  bool CheckDate() override;
  bool CheckPaths() override;
  void SetGoEnabled(bool enabled) override;
  void SetGoCaption(const std::string& caption) override;
  void SetRunActive(bool active) override;
  void SetInputsEnabled(bool enabled) override;
  void SetTimerInterval(int milliseconds) override;
  bool IsClosing() override { return view_.IsClosing(); }

 private:
  void FocusWhenShown(Control box);

  FormView& view_;
  SearchParams params_;
  std::string SettingsFile;
  bool RunActive = false;
  int IconFrame = 0;
  bool shown_ = false;
  // A box that asked for the focus before the window was shown.
  std::optional<Control> focus_on_show_;
};

}  // namespace qor
