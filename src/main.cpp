#include <QApplication>

#include "platform/locale.h"
#include "platform/process.h"
#include "window/frm_main.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  qor::platform::UseUserLocale();
  qor::platform::RaiseOpenFileLimit();
  qor::frmMain window;
  window.show();
  return QApplication::exec();
}
