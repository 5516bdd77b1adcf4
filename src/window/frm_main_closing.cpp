// Start-up, the message boxes and the end of the window's life.
#include "config/command_line.h"
#include "config/settings.h"
#include "window/frm_main.h"
#include "window/lamp.h"

namespace qor {

namespace {

// The window's caption doubles as the title of boxes without one.
const char* const kApplicationTitle = "Sorvane";

}  // namespace

void frmMain::Form_Load(const std::string& argument_text) {
  SettingsFile = SettingsFilePath();
  LoadSettings(*this, SettingsFile);
  const bool AutoStart = ApplyCommandLine(argument_text, *this, *this);

  IconFrame = kLampUnlit;
  view_.SetIcon(IconFrame);

  // The automatic run happens before the window is shown; start-up goes on
  // once it is over.
  if (AutoStart) btnGo_Click();
}

void frmMain::ShowAfterStartUp() {
  const Control focus = focus_on_show_.value_or(Control::btnGo);
  focus_on_show_.reset();
  shown_ = true;
  view_.ShowWindow();
  view_.SetFocus(focus);
}

void frmMain::Form_Unload() {
  // Without a start-up there is no settings file to write.
  if (!SettingsFile.empty()) SaveSettings(*this, SettingsFile);
}

bool frmMain::Form_QueryUnload(CloseReason reason) {
  if (reason != CloseReason::UserCommand || !RunActive) return false;
  const MessageAnswer answer =
      ShowMessage("Abort and quit anyway", "Search active ", MessageButtons::YesNo);
  return answer != MessageAnswer::Yes;
}

MessageAnswer frmMain::ShowMessage(const std::string& prompt,
                                   const std::optional<std::string>& title,
                                   MessageButtons buttons) {
  // Once the window has gone, nobody is left to answer.
  if (view_.IsClosing()) {
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
  }
  return view_.ShowMessage(prompt, title.value_or(kApplicationTitle), buttons);
}

}  // namespace qor
