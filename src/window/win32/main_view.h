#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "window/form_view.h"
#include "window/win32/handles.h"

namespace qor {

// Command1's caption stays inside its frame, whose edge is this many pixels
// wide at every DPI.
inline constexpr int kCommand1Inset = 2;

// `caption` broken over lines for a room `width` pixels wide in the font
// selected into `dc`: each line as long as fits, at least one character.
std::vector<std::wstring> CaptionLines(HDC dc, const std::wstring& caption, int width);

// The main window drawn with the plain Win32 API: it creates the controls,
// passes their events on to the form and does what the form asks of them.
class Win32FormView : public FormView {
 public:
  explicit Win32FormView(HINSTANCE instance);
  ~Win32FormView() override;
  Win32FormView(const Win32FormView&) = delete;
  Win32FormView& operator=(const Win32FormView&) = delete;

  HWND Window() const { return window_.get(); }
  // Handles the window's messages until it is gone; the program's exit code.
  int RunMessageLoop();

  void SetEvents(FormEvents* events) override { events_ = events; }
  std::string Text(Control control) override;
  void SetText(Control control, const std::string& text) override;
  int Value(Control control) override;
  void SetValue(Control control, int value) override;
  void SetEnabled(Control control, bool enabled) override;
  void SetReadOnly(Control control, bool read_only) override;
  void SetFocus(Control control) override;
  void ShowWindow() override;
  void SetIcon(int frame) override;
  MessageAnswer ShowMessage(const std::string& prompt, const std::string& title,
                            MessageButtons buttons) override;
  void StartTimer(int milliseconds) override;
  void StopTimer() override;
  void DoEvents() override;
  bool IsClosing() override { return closing_; }

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

  void OnCreate();
  void OnCommand(int id, int notification);
  void OnTimer();
  void OnActivate(bool active);
  void OnDpiChanged(int dpi, const RECT& suggested);
  LRESULT OnStaticColour(HDC dc, HWND control);
  void OnDrawItem(const DRAWITEMSTRUCT& item);
  // Asks the form whether a close may go ahead.
  bool FormLetsClose(CloseReason reason);
  // A close request: asks the form, and when it goes ahead closes the window.
  void RequestClose(CloseReason reason);

  void CreateControls();
  // A tool tip for each control that has one (tool_tips.h).
  void AddToolTips();
  // Places every control for `dpi_`, with the largest font that fits them.
  void LayOut();
  void LoadIcons();
  void FitFont();
  void SizeWindowForClientArea(const RECT* suggested);
  void OnOptionClicked(int index);
  // Only the selected option button is a tab stop: the group is one stop.
  void MarkSelectedOptionAsTabStop();
  void DismissOpenMessage();

  HWND Handle(Control control) const;

  HINSTANCE instance_;
  FormEvents* events_ = nullptr;
  WindowHandle window_;
  std::vector<HWND> children_;  // one per row of the control table
  std::array<HWND, kControlCount> controls_{};
  int dpi_ = 96;
  FontHandle font_;
  // Each lamp picture in the title bar's size and in the task switcher's.
  std::array<IconHandle, 3> small_icons_;
  std::array<IconHandle, 3> large_icons_;
  int icon_frame_ = 0;
  HWND focus_before_deactivation_ = nullptr;
  HWND tool_tips_ = nullptr;  // owned by window_
  bool closing_ = false;
  int open_messages_ = 0;
};

}  // namespace qor
