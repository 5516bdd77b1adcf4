// The controls of the window: created from the table, placed and given a
// font for the DPI of the monitor that shows the window.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <string>
#include <vector>

#include "platform/win32/wide.h"
#include "window/tool_tips.h"
#include "window/win32/control_table.h"
#include "window/win32/dpi.h"
#include "window/win32/main_view.h"
#include "window/win32/resource_ids.h"

namespace qor {

namespace {

// The smallest font a caption may shrink to, in pixels at 96 DPI.
constexpr int kSmallestFontPixels = 7;

bool IsClass(const ControlRow& item, const wchar_t* window_class) {
  return ::lstrcmpiW(item.window_class, window_class) == 0;
}

int Scaled(int pixels, int dpi) {
  return ::MulDiv(pixels, dpi, 96);
}

// The room a caption has in its control, in pixels; 0 for controls without
// a caption of their own (text boxes, counters) and for Command1, which
// breaks its caption over lines.
SIZE CaptionRoom(const ControlRow& item, int dpi) {
  const int width = TwipsToPixels(item.width, dpi);
  const int height = TwipsToPixels(item.height, dpi);
  if (item.control == Control::Command1) return {0, 0};
  if (IsClass(item, L"Static")) {
    if (item.control.has_value()) return {0, 0};
    return {width, height};
  }
  if (!IsClass(item, L"Button")) return {0, 0};
  if ((item.style & BS_TYPEMASK) == BS_PUSHBUTTON) return {width - Scaled(8, dpi), height};
  // Check boxes and option buttons: the mark and the gap after it.
  const int mark = SystemMetricForDpi(SM_CXMENUCHECK, dpi) + Scaled(5, dpi);
  return {width - mark, height};
}

}  // namespace

std::vector<std::wstring> CaptionLines(HDC dc, const std::wstring& caption, int width) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  while (start < caption.size()) {
    int fitted = 0;
    SIZE whole{};
    ::GetTextExtentExPointW(dc, caption.c_str() + start, static_cast<int>(caption.size() - start),
                            width, &fitted, nullptr, &whole);
    // A character wider than the room still gets a line of its own.
    const std::size_t taken = fitted > 0 ? static_cast<std::size_t>(fitted) : 1;
    lines.push_back(caption.substr(start, taken));
    start += taken;
  }
  return lines;
}

void Win32FormView::OnCreate() {
  dpi_ = WindowDpi(window_.get());
  CreateControls();
  LoadIcons();
  LayOut();
  SizeWindowForClientArea(nullptr);
}

void Win32FormView::CreateControls() {
  for (const ControlRow& item : ControlTable()) {
    const int id = item.control.has_value() ? ControlId(*item.control) : -1;
    const HWND child = ::CreateWindowExW(
        item.ex_style, item.window_class, item.caption, item.style, 0, 0, 0, 0, window_.get(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    children_.push_back(child);
    if (item.control.has_value()) controls_.at(static_cast<std::size_t>(*item.control)) = child;
    // Text boxes have no length limit of their own.
    if (IsClass(item, L"Edit")) ::SendMessageW(child, EM_SETLIMITTEXT, 0, 0);
  }
  SetValue(Control::optEqual0, 1);
  AddToolTips();
}

void Win32FormView::AddToolTips() {
  const INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES};  // tool tips among them
  ::InitCommonControlsEx(&classes);
  // Owned by the window, and gone with it.
  tool_tips_ =
      ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, window_.get(), nullptr, instance_, nullptr);
  if (tool_tips_ == nullptr) return;  // the window works without them
  for (std::size_t index = 0; index < kControlCount; ++index) {
    const Control control = static_cast<Control>(index);
    const char* tip = ToolTipOf(control);
    if (tip == nullptr) continue;
    std::wstring text = platform::Widen(tip);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_.get();
    tool.uId = reinterpret_cast<UINT_PTR>(Handle(control));
    tool.lpszText = text.data();
    ::SendMessageW(tool_tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void Win32FormView::LoadIcons() {
  const int small = SystemMetricForDpi(SM_CXSMICON, dpi_);
  const int large = SystemMetricForDpi(SM_CXICON, dpi_);
  for (std::size_t index = 0; index < 3; ++index) {
    const auto* name = MAKEINTRESOURCEW(QOR_ICON_LAMP_FIRST + static_cast<int>(index));
    small_icons_[index].Reset(static_cast<HICON>(
        ::LoadImageW(instance_, name, IMAGE_ICON, small, small, LR_DEFAULTCOLOR)));
    large_icons_[index].Reset(static_cast<HICON>(
        ::LoadImageW(instance_, name, IMAGE_ICON, large, large, LR_DEFAULTCOLOR)));
  }
  if (icon_frame_ != 0) SetIcon(icon_frame_);
}

void Win32FormView::LayOut() {
  const auto table = ControlTable();
  for (std::size_t row = 0; row < table.size(); ++row) {
    const ControlRow& item = table[row];
    ::SetWindowPos(children_[row], nullptr, TwipsToPixels(item.left, dpi_),
                   TwipsToPixels(item.top, dpi_), TwipsToPixels(item.width, dpi_),
                   TwipsToPixels(item.height, dpi_), SWP_NOZORDER | SWP_NOACTIVATE);
  }
  FitFont();
  // Long tips wrap, at a width that grows with the DPI.
  if (tool_tips_ != nullptr) ::SendMessageW(tool_tips_, TTM_SETMAXTIPWIDTH, 0, Scaled(320, dpi_));
  for (const HWND child : children_) {
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
  }
}

void Win32FormView::FitFont() {
  LOGFONTW face = NonClientMetricsForDpi(dpi_).lfMessageFont;
  const int largest = face.lfHeight < 0 ? -face.lfHeight : face.lfHeight;
  const int smallest = Scaled(kSmallestFontPixels, dpi_);
  const WindowDC dc(window_.get());
  // The system's message font, unless a caption would not fit in it: then
  // the largest smaller one in which every caption is whole, Command1's
  // broken over lines inside its frame.
  for (int pixels = largest; pixels >= smallest; --pixels) {
    face.lfHeight = -pixels;
    font_.Reset(::CreateFontIndirectW(&face));
    const SelectedObject selected(dc.get(), font_.get());
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc.get(), &metrics);
    bool all_fit = true;
    for (const ControlRow& item : ControlTable()) {
      if (item.control == Control::Command1) {
        const int width = TwipsToPixels(item.width, dpi_) - 2 * kCommand1Inset;
        const int height = TwipsToPixels(item.height, dpi_) - 2 * kCommand1Inset;
        const auto lines = CaptionLines(dc.get(), item.caption, width);
        if (static_cast<int>(lines.size()) * metrics.tmHeight > height) all_fit = false;
        continue;
      }
      const SIZE room = CaptionRoom(item, dpi_);
      if (room.cx == 0) continue;
      SIZE need{};
      ::GetTextExtentPoint32W(dc.get(), item.caption, ::lstrlenW(item.caption), &need);
      if (need.cx > room.cx || metrics.tmHeight > room.cy) all_fit = false;
    }
    if (all_fit) break;
  }
}

void Win32FormView::SizeWindowForClientArea(const RECT* suggested) {
  RECT frame{0, 0, TwipsToPixels(kClientWidthTwips, dpi_), TwipsToPixels(kClientHeightTwips, dpi_)};
  const auto style = static_cast<DWORD>(::GetWindowLongPtrW(window_.get(), GWL_STYLE));
  const auto ex_style = static_cast<DWORD>(::GetWindowLongPtrW(window_.get(), GWL_EXSTYLE));
  AdjustWindowRectForDpi(frame, style, ex_style, dpi_);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  if (suggested != nullptr) {
    ::SetWindowPos(window_.get(), nullptr, suggested->left, suggested->top, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    ::SetWindowPos(window_.get(), nullptr, 0, 0, width, height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void Win32FormView::OnDpiChanged(int dpi, const RECT& suggested) {
  dpi_ = dpi;
  LoadIcons();
  LayOut();
  SizeWindowForClientArea(&suggested);
}

void Win32FormView::OnDrawItem(const DRAWITEMSTRUCT& item) {
  if (item.hwndItem != Handle(Control::Command1)) return;
  RECT bounds = item.rcItem;
  const HDC dc = item.hDC;
  UINT state = DFCS_BUTTONPUSH;
  if ((item.itemState & ODS_SELECTED) != 0) state |= DFCS_PUSHED;
  ::DrawFrameControl(dc, &bounds, DFC_BUTTON, state);
  // The font it was given, as every other control; the caption broken over
  // as many lines as it needs, each as long as fits inside the frame.
  const SelectedObject selected(
      dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(item.hwndItem, WM_GETFONT, 0, 0)));
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  const int inset = kCommand1Inset;
  RECT room{bounds.left + inset, bounds.top + inset, bounds.right - inset, bounds.bottom - inset};
  std::wstring caption(static_cast<std::size_t>(::GetWindowTextLengthW(item.hwndItem)) + 1, L'\0');
  caption.resize(static_cast<std::size_t>(
      ::GetWindowTextW(item.hwndItem, caption.data(), static_cast<int>(caption.size()))));
  const std::vector<std::wstring> lines = CaptionLines(dc, caption, room.right - room.left);
  const int count = static_cast<int>(lines.size());
  const int top = room.top + (room.bottom - room.top - count * metrics.tmHeight) / 2;
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(
      dc, ::GetSysColor((item.itemState & ODS_DISABLED) != 0 ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  const int shift = (item.itemState & ODS_SELECTED) != 0 ? 1 : 0;
  for (int line = 0; line < count; ++line) {
    const std::wstring& part = lines[static_cast<std::size_t>(line)];
    RECT row{room.left + shift, top + line * metrics.tmHeight + shift, room.right + shift,
             top + (line + 1) * metrics.tmHeight + shift};
    ::DrawTextW(dc, part.c_str(), static_cast<int>(part.size()), &row,
                DT_CENTER | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
  }
  if ((item.itemState & ODS_FOCUS) != 0) {
    // Just inside the frame, as a push button draws it.
    RECT focus{bounds.left + inset + 1, bounds.top + inset + 1, bounds.right - inset - 1,
               bounds.bottom - inset - 1};
    ::DrawFocusRect(dc, &focus);
  }
}

}  // namespace qor
