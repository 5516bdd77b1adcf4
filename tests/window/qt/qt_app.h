#pragma once

#include <QApplication>
#include <QLabel>
#include <QString>

#include "window/frm_main.h"
#include "window/qt/main_view.h"

namespace qor::test {

// One application object for the whole test program.
inline QApplication& App() {
  static int argc = 1;
  static char name[] = "qor_tests_window";
  static char* argv[] = {name, nullptr};
  // Drawn off screen, the same on every machine, with or without a display.
  // (Set here: ctest's test properties hold only one environment variable.)
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never destroyed: Qt's own globals are gone by the time static objects
  // die at exit, and tearing the application down then crashes.
  static QApplication* const app = new QApplication(argc, argv);
  return *app;
}

// Base of every fixture that holds a window: the application must exist
// before the window member is built.
struct WithApp {
  WithApp() { App(); }
};

// The Qt window with its form attached, as the program builds it.
struct QtWindow : WithApp {
  QtFormView view;
  frmMain form{view};
};

template <typename Control = QWidget>
Control& Find(QtFormView& window, const char* name) {
  auto* control = window.findChild<Control*>(QString::fromLatin1(name));
  if (control == nullptr) throw std::runtime_error(std::string("no control ") + name);
  return *control;
}

}  // namespace qor::test
