// The form comes before <windows.h>, which defines a macro named Yield.
#include "platform/locale.h"
#include "platform/process.h"
#include "window/frm_main.h"
// clang-format off
#include "window/win32/main_view.h"
#include <commctrl.h>
// clang-format on

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  // The raw command line, blanks as typed; the switches are read from it.
  const std::string argument_text = qor::platform::ArgumentText(0, nullptr);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  qor::platform::UseUserLocale();
  qor::platform::RaiseOpenFileLimit();
  qor::platform::ReportFileSizeLimitAsError();
  qor::Win32FormView view(instance);
  if (view.Window() == nullptr) return 1;
  qor::frmMain form(view);
  form.Form_Load(argument_text);
  // An automatic run that was abandoned by closing the window ends the
  // program without the window ever appearing.
  if (form.IsClosing()) return 0;
  form.ShowAfterStartUp();
  return view.RunMessageLoop();
}
