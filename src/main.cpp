#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/command_line.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "qor_version.h"
#include "window/frm_main.h"
#include "window/qt/main_view.h"

namespace {

constexpr const char* kHelpText =
    "Usage: qor [/D<day>] [/M<month>] [/Y<year>] [auto]\n"
    "       qor ?\n"
    "Opens the window Sorvane, which moves the files of a source folder into a\n"
    "target folder by the date on which each was last written.\n"
    "\n"
    "  /D<day> /M<month> /Y<year>  fill the date boxes (the arguments are read\n"
    "                              only when there are two or more)\n"
    "  auto                        start a run at once, with the saved folders\n"
    "  ?                           show the usage in a message box\n"
    "  --help, --version           print this help or the version, and end\n"
    "\n"
    "qor-cli moves files in the same way without a window (qor-cli --help);\n"
    "man qor tells the rest.\n";

constexpr const char* kVersionText =
    "qor " QOR_VERSION_TEXT "\n" QOR_COPYRIGHT "\n" QOR_LICENSE_LINE "\n";

constexpr const char* kNoDisplayText =
    "qor: no display to open the window on; qor-cli moves files without one "
    "(see qor-cli --help)\n";

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// Whether the window system Qt will pick has something to connect to. A
// platform chosen by name other than X11 or Wayland (offscreen, vnc) is
// taken on trust.
bool DisplayNamed() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const std::string chosen = platform != nullptr ? platform : "";
  if (chosen.starts_with("xcb")) return IsSet("DISPLAY");
  if (chosen.starts_with("wayland")) return IsSet("WAYLAND_DISPLAY");
  if (!chosen.empty()) return true;
  return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

QtMessageHandler qt_handler = nullptr;

// A display that is named but cannot be reached ends the toolkit's start with
// a fatal message and an abort; the program ends as without a display.
void StartUpMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    std::fputs(kNoDisplayText, stderr);
    std::_Exit(1);
  }
  if (qt_handler != nullptr) qt_handler(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
  // Only these two words alone; every other command line is the window's.
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kHelpText, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::fputs(kVersionText, stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (!DisplayNamed()) {
    std::fputs(kNoDisplayText, stderr);
    return 1;
  }
  // Taken before Qt removes the options it knows from argv.
  const std::string argument_text = qor::platform::ArgumentText(argc, argv);
  qt_handler = qInstallMessageHandler(StartUpMessage);
  QApplication app(argc, argv);
  qInstallMessageHandler(qt_handler);
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
