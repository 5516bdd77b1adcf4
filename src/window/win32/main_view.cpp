// The window procedure and what the form asks of the controls.
#include "window/win32/main_view.h"

#include <windowsx.h>

#include "platform/win32/wide.h"
#include "window/event_barrier.h"
#include "window/win32/control_table.h"

namespace qor {

namespace {

const wchar_t* const kWindowClass = L"QorSorvaneWindow";
constexpr UINT_PTR kTimerId = 1;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;
#ifndef WM_DPICHANGED
constexpr UINT WM_DPICHANGED = 0x02E0;
#endif

bool IsTextBox(Control control) {
  switch (control) {
    case Control::txtDate0:
    case Control::txtDate1:
    case Control::txtDate2:
    case Control::txtPath0:
    case Control::txtPath1:
      return true;
    default:
      return false;
  }
}

bool IsCheckBox(Control control) {
  return control == Control::chkrekurse || control == Control::chkAddDateTarget ||
         control == Control::chkDelFolderMove;
}

int OptionIndex(Control control) {
  return static_cast<int>(control) - static_cast<int>(Control::optEqual0);
}

bool IsOption(Control control) {
  const int index = OptionIndex(control);
  return index >= 0 && index < 3;
}

}  // namespace

Win32FormView::Win32FormView(HINSTANCE instance) : instance_(instance) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = &Win32FormView::WindowProcedure;
  window_class.hInstance = instance;
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kWindowClass;
  window_class.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(1));
  ::RegisterClassExW(&window_class);
  // The window proc takes ownership of the handle in WM_NCCREATE.
  ::CreateWindowExW(kWindowExStyle, kWindowClass, L"Sorvane", kWindowStyle, CW_USEDEFAULT,
                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this);
}

Win32FormView::~Win32FormView() {
  events_ = nullptr;
  if (window_) ::SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
}

LRESULT CALLBACK Win32FormView::WindowProcedure(HWND window, UINT message, WPARAM wparam,
                                                LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* view =
        static_cast<Win32FormView*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    view->window_.Reset(window);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
  }
  auto* view = reinterpret_cast<Win32FormView*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (view == nullptr) return ::DefWindowProcW(window, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    view->window_.Release();
    return ::DefWindowProcW(window, message, wparam, lparam);
  }
  // The wall between the system and everything the window does, the form's
  // handlers among it: a failure is shown and the message ends there.
  LRESULT result = 0;
  GuardEvent(*view, [&] { result = view->HandleMessage(message, wparam, lparam); });
  return result;
}

LRESULT Win32FormView::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  const HWND window = window_.get();
  switch (message) {
    case WM_CREATE: {
      // A window that could not be made whole is not made at all.
      bool made = false;
      GuardEvent(*this, [&] {
        OnCreate();
        made = true;
      });
      return made ? 0 : -1;
    }
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_TIMER:
      if (wparam == kTimerId) OnTimer();
      return 0;
    case WM_ACTIVATE:
      OnActivate(LOWORD(wparam) != WA_INACTIVE);
      return 0;
    case WM_CTLCOLORSTATIC:
      return OnStaticColour(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_DRAWITEM:
      OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
      return TRUE;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_SYSCOMMAND:
      // The close box, Close in the window menu and Alt+F4 all come here.
      if ((wparam & 0xFFF0) == SC_CLOSE) {
        RequestClose(CloseReason::UserCommand);
        return 0;
      }
      break;
    case WM_CLOSE:
      // Sent by someone else than the user's own close command.
      RequestClose(CloseReason::Other);
      return 0;
    case WM_QUERYENDSESSION:
      return closing_ || FormLetsClose(CloseReason::Other) ? TRUE : FALSE;
    case WM_ENDSESSION:
      if (wparam != FALSE && !closing_) RequestClose(CloseReason::Other);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void Win32FormView::OnCommand(int id, int notification) {
  if (events_ == nullptr || notification != BN_CLICKED) return;
  const int first = ControlId(Control::btnGo);
  if (id < first || id >= first + static_cast<int>(kControlCount)) return;
  const auto control = static_cast<Control>(id - first);
  if (!::IsWindowEnabled(Handle(control))) return;
  if (control == Control::btnGo) {
    events_->btnGo_Click();
  } else if (control == Control::Command1) {
    events_->Command1_Click();
  } else if (IsOption(control)) {
    OnOptionClicked(OptionIndex(control));
  } else if (IsCheckBox(control)) {
    // A click toggles between clear and ticked; a greyed box becomes clear.
    SetValue(control, Value(control) == 0 ? 1 : 0);
  }
}

void Win32FormView::OnOptionClicked(int index) {
  MarkSelectedOptionAsTabStop();
  events_->optEqual_Click(index);
}

void Win32FormView::MarkSelectedOptionAsTabStop() {
  for (int index = 0; index < 3; ++index) {
    const HWND option = Handle(OptionButton(index));
    LONG_PTR style = ::GetWindowLongPtrW(option, GWL_STYLE);
    const bool selected = Value(OptionButton(index)) == 1;
    style = selected ? (style | WS_TABSTOP) : (style & ~static_cast<LONG_PTR>(WS_TABSTOP));
    ::SetWindowLongPtrW(option, GWL_STYLE, style);
  }
}

void Win32FormView::OnTimer() {
  if (events_ != nullptr) events_->Timer1_Timer();
}

void Win32FormView::OnActivate(bool active) {
  // The control that had the focus gets it back when the window is active
  // again.
  if (!active) {
    const HWND focus = ::GetFocus();
    if (focus != nullptr && ::IsChild(window_.get(), focus)) focus_before_deactivation_ = focus;
  } else if (focus_before_deactivation_ != nullptr &&
             ::IsWindowEnabled(focus_before_deactivation_)) {
    ::SetFocus(focus_before_deactivation_);
  } else {
    ::SetFocus(Handle(Control::btnGo));
  }
}

LRESULT Win32FormView::OnStaticColour(HDC dc, HWND control) {
  // A locked text box keeps the look of a writable one.
  for (Control box : {Control::txtDate0, Control::txtDate1, Control::txtDate2, Control::txtPath0,
                      Control::txtPath1}) {
    if (Handle(box) == control) {
      ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
      ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
    }
  }
  return ::DefWindowProcW(window_.get(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                          reinterpret_cast<LPARAM>(control));
}

bool Win32FormView::FormLetsClose(CloseReason reason) {
  if (events_ == nullptr) return true;
  // Should the question fail, the window stays: a run may be going on.
  bool cancel = true;
  GuardEvent(*this, [&] { cancel = events_->Form_QueryUnload(reason); });
  return !cancel;
}

void Win32FormView::RequestClose(CloseReason reason) {
  if (closing_ || !window_) return;
  if (!FormLetsClose(reason)) return;
  // A run in progress notices this at its next yield and gives up; a message
  // box it may have open goes away at once.
  closing_ = true;
  DismissOpenMessage();
  // The window goes even when the form fails to take its leave.
  if (events_ != nullptr) GuardEvent(*this, [&] { events_->Form_Unload(); });
  StopTimer();
  if (window_) ::DestroyWindow(window_.get());
}

int Win32FormView::RunMessageLoop() {
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window_ && ::IsDialogMessageW(window_.get(), &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

void Win32FormView::DoEvents() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Left for the message loop that ends the program.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (window_ && ::IsDialogMessageW(window_.get(), &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

HWND Win32FormView::Handle(Control control) const {
  return controls_.at(static_cast<std::size_t>(control));
}

std::string Win32FormView::Text(Control control) {
  const HWND handle = Handle(control);
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(handle)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(handle, text.data(), static_cast<int>(text.size()))));
  return platform::Narrow(text);
}

void Win32FormView::SetText(Control control, const std::string& text) {
  ::SetWindowTextW(Handle(control), platform::Widen(text).c_str());
}

int Win32FormView::Value(Control control) {
  const auto state = ::SendMessageW(Handle(control), BM_GETCHECK, 0, 0);
  if (IsOption(control)) return state == BST_CHECKED ? 1 : 0;
  if (!IsCheckBox(control)) return 0;
  return state == BST_CHECKED ? 1 : state == BST_INDETERMINATE ? 2 : 0;
}

void Win32FormView::SetValue(Control control, int value) {
  if (IsOption(control)) {
    if (value == 0) {
      ::SendMessageW(Handle(control), BM_SETCHECK, BST_UNCHECKED, 0);
    } else {
      for (int index = 0; index < 3; ++index) {
        ::SendMessageW(Handle(OptionButton(index)), BM_SETCHECK,
                       OptionButton(index) == control ? BST_CHECKED : BST_UNCHECKED, 0);
      }
    }
    MarkSelectedOptionAsTabStop();
    return;
  }
  if (!IsCheckBox(control)) return;
  const int before = Value(control);
  const WPARAM state = value == 1 ? BST_CHECKED : value == 2 ? BST_INDETERMINATE : BST_UNCHECKED;
  ::SendMessageW(Handle(control), BM_SETCHECK, state, 0);
  if (Value(control) == before || events_ == nullptr) return;
  if (control == Control::chkrekurse) events_->chkrekurse_Click();
  if (control == Control::chkDelFolderMove) events_->chkDelFolderMove_Click();
}

void Win32FormView::SetEnabled(Control control, bool enabled) {
  const HWND handle = Handle(control);
  const bool had_focus = ::GetFocus() == handle;
  // The next stop takes the focus of a control that is greyed, so that the
  // keyboard still reaches the window.
  if (had_focus && !enabled) {
    const HWND next = ::GetNextDlgTabItem(window_.get(), handle, FALSE);
    if (next != nullptr && next != handle) ::SetFocus(next);
  }
  ::EnableWindow(handle, enabled ? TRUE : FALSE);
}

void Win32FormView::SetReadOnly(Control control, bool read_only) {
  if (!IsTextBox(control)) return;
  ::SendMessageW(Handle(control), EM_SETREADONLY, read_only ? TRUE : FALSE, 0);
  ::InvalidateRect(Handle(control), nullptr, TRUE);
}

void Win32FormView::SetFocus(Control control) {
  const HWND handle = Handle(control);
  ::SetFocus(handle);
  if (IsTextBox(control)) ::SendMessageW(handle, EM_SETSEL, 0, -1);
}

void Win32FormView::ShowWindow() {
  ::ShowWindow(window_.get(), SW_SHOWNORMAL);
  ::UpdateWindow(window_.get());
  ::SetForegroundWindow(window_.get());
}

void Win32FormView::SetIcon(int frame) {
  if (frame < 1 || frame > 3) return;
  icon_frame_ = frame;
  const auto index = static_cast<std::size_t>(frame - 1);
  ::SendMessageW(window_.get(), WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(small_icons_[index].get()));
  ::SendMessageW(window_.get(), WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(large_icons_[index].get()));
}

void Win32FormView::StartTimer(int milliseconds) {
  if (!window_) return;
  ::SetTimer(window_.get(), kTimerId, static_cast<UINT>(milliseconds), nullptr);
}

void Win32FormView::StopTimer() {
  if (window_) ::KillTimer(window_.get(), kTimerId);
}

}  // namespace qor
