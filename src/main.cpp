#include <QApplication>
#include <string>

#include "config/command_line.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "window/frm_main.h"
#include "window/qt/main_view.h"

int main(int argc, char** argv) {
  // Taken before Qt removes the options it knows from argv.
  const std::string argument_text = qor::platform::ArgumentText(argc, argv);
  QApplication app(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("qor"));
  qor::platform::UseUserLocale();
  qor::platform::RaiseOpenFileLimit();
  qor::platform::ReportFileSizeLimitAsError();
  qor::QtFormView view;
  qor::frmMain form(view);
  form.Form_Load(argument_text);
  // An automatic run that was abandoned by closing the window ends the
  // program without the window ever appearing.
  if (form.IsClosing()) return 0;
  form.ShowAfterStartUp();
  return QApplication::exec();
}
