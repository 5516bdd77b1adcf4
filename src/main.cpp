#include <QApplication>

#include "config/command_line.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "window/frm_main.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("qor"));
  qor::platform::UseUserLocale();
  qor::platform::RaiseOpenFileLimit();
  qor::frmMain window;
  window.Form_Load(qor::ArgumentText(argc, argv));
  // An automatic run that was abandoned by closing the window ends the
  // program without the window ever appearing.
  if (window.IsClosing()) return 0;
  window.ShowAfterStartUp();
  return QApplication::exec();
}
