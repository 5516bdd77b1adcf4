// Start-up, the message boxes and the end of the window's life.
#include <QCloseEvent>

#include "config/command_line.h"
#include "config/settings.h"
#include "window/frm_main.h"

namespace qor {

void frmMain::Form_Load(const std::string& argument_text) {
  SettingsFile = SettingsFilePath();
  LoadSettings(*this, SettingsFile);
  const bool AutoStart = ApplyCommandLine(argument_text, *this, *this);

  IconFrame = 1;
  ShowIconFrame();

  // The automatic run happens before the window is shown; start-up goes on
  // once it is over.
  if (AutoStart) btnGo_Click();
}

void frmMain::ShowAfterStartUp() {
  QWidget* focus = focus_on_show_ != nullptr ? focus_on_show_ : &btnGo;
  focus_on_show_ = nullptr;
  show();
  activateWindow();
  focus->setFocus(Qt::OtherFocusReason);
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

void frmMain::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  const CloseReason reason = event->spontaneous() ? CloseReason::UserCommand : CloseReason::Other;
  if (Form_QueryUnload(reason)) {
    event->ignore();
    return;
  }
  event->accept();
  // A run in progress notices this at its next yield and gives up; a closing
  // message it may have open goes away at once.
  closing_ = true;
  message_display_.DismissOpen();
  Form_Unload();
}

void frmMain::SetMessagePresenter(MessagePresenter presenter) {
  presenter_ = std::move(presenter);
}

MessageAnswer frmMain::ShowMessage(const std::string& prompt,
                                   const std::optional<std::string>& title,
                                   MessageButtons buttons) {
  // Once the window has gone, nobody is left to answer.
  if (closing_) return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
  const MessageRequest request = MakeMessageRequest(prompt, title, buttons);
  if (presenter_) return presenter_(request);
  return message_display_.Show(this, request);
}

}  // namespace qor
