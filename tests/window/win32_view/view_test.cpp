// The Win32 window itself, driven through its own message handling: the
// round of the Tab key, where the focus goes, the layout at another DPI,
// Command1's caption, Enter and the space bar, and the wall against failing
// handlers. It needs a display
// (under wine, an X server).
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

// The form comes before <windows.h>, which defines a macro named Yield.
#include "window/frm_main.h"
// clang-format off
#include "window/win32/main_view.h"
#include <commctrl.h>
// clang-format on
#include "window/win32/control_table.h"
#include "window/win32/dpi.h"

namespace qor {
namespace {

#ifndef WM_DPICHANGED
constexpr UINT WM_DPICHANGED = 0x02E0;
#endif

using enum Control;

// The stops of the Tab key from GO on, with `option` for the option group.
std::vector<Control> Round(Control option) {
  return {btnGo,  txtDate0,   txtDate1, txtDate2,         txtPath0,        txtPath1,
          option, chkrekurse, Command1, chkAddDateTarget, chkDelFolderMove};
}

// Twips to whole pixels, rounded to the nearest.
int Pixels(int twips, int dpi) {
  return (twips * dpi + 720) / 1440;
}

class Win32View : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    view_ = std::make_unique<Win32FormView>(::GetModuleHandleW(nullptr));
    if (view_->Window() == nullptr) {
      // Wine makes no window at all without an X server.
      const HWND probe = ::CreateWindowExW(0, WC_STATICW, L"", WS_POPUP, 0, 0, 1, 1, nullptr,
                                           nullptr, nullptr, nullptr);
      if (probe == nullptr) GTEST_SKIP() << "no window can be made here (no display)";
      ::DestroyWindow(probe);
      FAIL() << "the main window was not made";
    }
    // Start-up without an automatic run, as the program does it.
    form_ = std::make_unique<frmMain>(*view_);
    form_->Form_Load("");
    form_->ShowAfterStartUp();
    view_->DoEvents();
  }

  HWND Item(Control control) const { return ::GetDlgItem(view_->Window(), ControlId(control)); }
  static int FocusId() { return ::GetDlgCtrlID(::GetFocus()); }

  // Sends a key to the focused control as the keyboard does and lets the
  // view's own message handling take it.
  void Press(WPARAM key, bool shift = false) {
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    ::SetKeyboardState(keys);
    const HWND focus = ::GetFocus();
    ::PostMessageW(focus, WM_KEYDOWN, key, 1);
    ::PostMessageW(focus, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001));
    view_->DoEvents();
    keys[VK_SHIFT] = 0;
    ::SetKeyboardState(keys);
  }

  // Tab from the first stop visits the others in turn and comes back;
  // Shift+Tab goes the other way.
  void ExpectRound(const std::vector<Control>& stops) {
    const auto count = stops.size();
    for (const bool backwards : {false, true}) {
      view_->SetFocus(stops.front());
      for (std::size_t step = 1; step <= count; ++step) {
        Press(VK_TAB, backwards);
        const Control expected = stops[(backwards ? count - step : step) % count];
        ASSERT_EQ(FocusId(), ControlId(expected))
            << (backwards ? "Shift+Tab" : "Tab") << " number " << step;
      }
    }
  }

  std::unique_ptr<Win32FormView> view_;
  std::unique_ptr<frmMain> form_;
};

// The tool tips say what the captions cannot: how "<" and ">" compare, and
// what each date box takes.
TEST_F(Win32View, ComparisonsAndDateBoxesExplainThemselvesInToolTips) {
  HWND tips = nullptr;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM found) {
        wchar_t name[64] = {};
        ::GetClassNameW(window, name, 64);
        if (std::wstring(name) != TOOLTIPS_CLASSW) return TRUE;
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&tips));
  ASSERT_NE(tips, nullptr);
  const struct {
    Control control;
    const wchar_t* says;  // nullptr: no tip
  } cases[] = {{Control::optEqual1, L"each smaller"},
               {Control::optEqual2, L"each greater"},
               {Control::txtDate0, L"1 to 31"},
               {Control::txtDate1, L"1 to 12"},
               {Control::txtDate2, L"1990"},
               {Control::optEqual0, nullptr},
               {Control::btnGo, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.control));
    wchar_t text[512] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = view_->Window();
    tool.uId = reinterpret_cast<UINT_PTR>(Item(c.control));
    tool.lpszText = text;
    const bool known = ::SendMessageW(tips, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool));
    EXPECT_EQ(known, c.says != nullptr);
    if (c.says == nullptr) continue;
    tool.lpszText = text;
    ::SendMessageW(tips, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&tool));
    EXPECT_NE(std::wstring(text).find(c.says), std::wstring::npos);
  }
}

TEST_F(Win32View, TabVisitsTheInputsWithTheSelectedOptionAsOneStop) {
  ExpectRound(Round(optEqual0));
  ::SendMessageW(Item(optEqual1), BM_CLICK, 0, 0);
  ASSERT_EQ(view_->Value(optEqual1), 1);
  ExpectRound(Round(optEqual1));
}

TEST_F(Win32View, ArrowKeysMoveAndSelectWithinTheOptionGroupOnly) {
  struct Case {
    WPARAM key;
    Control lands_on;
  };
  const Case cases[] = {{VK_DOWN, optEqual1}, {VK_RIGHT, optEqual2}, {VK_DOWN, optEqual0},
                        {VK_UP, optEqual2},   {VK_LEFT, optEqual1},  {VK_UP, optEqual0}};
  view_->SetFocus(optEqual0);
  for (const Case& c : cases) {
    Press(c.key);
    ASSERT_EQ(FocusId(), ControlId(c.lands_on)) << "key " << c.key;
    EXPECT_EQ(view_->Value(c.lands_on), 1) << "key " << c.key;
  }
}

TEST_F(Win32View, FocusStartsOnGoAndStaysOnTheLockedBoxesDuringARun) {
  EXPECT_EQ(FocusId(), ControlId(btnGo));
  // As a run locks the inputs: GO, the options and the check boxes are
  // greyed, the text boxes only read-only.
  form_->SetInputsEnabled(false);
  EXPECT_EQ(FocusId(), ControlId(txtDate0)) << "the focus left greyed GO for the next stop";
  const std::vector<Control> locked = {txtDate0, txtDate1, txtDate2, txtPath0, txtPath1};
  for (const Control box : locked) {
    EXPECT_NE(::GetWindowLongPtrW(Item(box), GWL_STYLE) & ES_READONLY, 0);
  }
  std::vector<Control> stops = locked;
  stops.push_back(Command1);
  ExpectRound(stops);
  form_->SetInputsEnabled(true);
  ExpectRound(Round(optEqual0));
}

// Counts the presses of GO; every other event does nothing.
struct GoCounter : FormEvents {
  void btnGo_Click() override { ++presses; }
  void chkrekurse_Click() override {}
  void chkDelFolderMove_Click() override {}
  void optEqual_Click(int) override {}
  void Timer1_Timer() override {}
  void Command1_Click() override {}
  bool Form_QueryUnload(CloseReason) override { return false; }
  void Form_Unload() override {}
  int presses = 0;
};

TEST_F(Win32View, EnterInABoxStartsNoRunWhileSpaceOnGoDoes) {
  GoCounter counter;
  view_->SetEvents(&counter);
  for (const Control box : {txtDate0, txtDate2, txtPath0, txtPath1}) {
    view_->SetFocus(box);
    Press(VK_RETURN);
    EXPECT_EQ(counter.presses, 0) << "Enter in box " << ControlId(box);
  }
  view_->SetFocus(btnGo);
  Press(VK_SPACE);
  EXPECT_EQ(counter.presses, 1);
  view_->SetEvents(form_.get());
}

// Every control where the twips put it at `dpi`, its caption whole in the
// font it is given: the mark of a check box or option button aside.
void ExpectLaidOutFor(HWND window, int dpi) {
  HWND child = ::GetWindow(window, GW_CHILD);
  for (const ControlRow& row : ControlTable()) {
    SCOPED_TRACE(testing::Message() << "the control captioned \"" << row.caption << '"');
    ASSERT_NE(child, nullptr);
    if (row.control.has_value()) {
      ASSERT_EQ(::GetDlgCtrlID(child), ControlId(*row.control));
    }
    RECT place{};
    ::GetWindowRect(child, &place);
    ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&place), 2);
    EXPECT_EQ(place.left, Pixels(row.left, dpi));
    EXPECT_EQ(place.top, Pixels(row.top, dpi));
    EXPECT_EQ(place.right - place.left, Pixels(row.width, dpi));
    EXPECT_EQ(place.bottom - place.top, Pixels(row.height, dpi));
    const bool label = ::lstrcmpiW(row.window_class, WC_STATICW) == 0 && !row.control;
    const bool button = ::lstrcmpiW(row.window_class, WC_BUTTONW) == 0;
    // Command1 is drawn over lines by the view itself.
    if ((label || button) && row.control != Command1) {
      const DWORD kind = row.style & BS_TYPEMASK;
      const bool marked = button && kind != BS_DEFPUSHBUTTON && kind != BS_PUSHBUTTON;
      const HDC dc = ::GetDC(child);
      const HGDIOBJ before =
          ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(child, WM_GETFONT, 0, 0)));
      SIZE text{};
      ::GetTextExtentPoint32W(dc, row.caption, ::lstrlenW(row.caption), &text);
      TEXTMETRICW metrics{};
      ::GetTextMetricsW(dc, &metrics);
      ::SelectObject(dc, before);
      ::ReleaseDC(child, dc);
      const int mark = marked ? SystemMetricForDpi(SM_CXMENUCHECK, dpi) : 0;
      EXPECT_LE(text.cx + mark, place.right - place.left);
      EXPECT_LE(metrics.tmHeight, place.bottom - place.top);
    }
    child = ::GetWindow(child, GW_HWNDNEXT);
  }
}

int FontHeight(HWND control) {
  LOGFONTW face{};
  ::GetObjectW(reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)), sizeof face,
               &face);
  return face.lfHeight < 0 ? -face.lfHeight : face.lfHeight;
}

// The size of the window's frame around its client area at `dpi`.
SIZE FrameAt(HWND window, int dpi) {
  RECT frame{};
  AdjustWindowRectForDpi(frame, static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE)),
                         static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_EXSTYLE)), dpi);
  return {frame.right - frame.left, frame.bottom - frame.top};
}

// Moves the window to a monitor of `dpi` as Windows does: WM_DPICHANGED with
// the rectangle the window is to take there, at (dpi, dpi / 2).
void MoveToDpi(HWND window, int dpi) {
  const SIZE frame = FrameAt(window, dpi);
  RECT suggested{0, 0, Pixels(kClientWidthTwips, dpi) + frame.cx,
                 Pixels(kClientHeightTwips, dpi) + frame.cy};
  ::OffsetRect(&suggested, dpi, dpi / 2);
  ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

struct DpiCase {
  int dpi, client_width, client_height;
};
constexpr DpiCase kDpis[] = {{144, 654, 314}, {96, 436, 209}};

TEST_F(Win32View, ControlsAndFontFollowTheDpiThereAndBack) {
  int font_at_144 = 0;
  for (const DpiCase& c : kDpis) {
    SCOPED_TRACE(testing::Message() << c.dpi << " DPI");
    MoveToDpi(view_->Window(), c.dpi);
    ExpectLaidOutFor(view_->Window(), c.dpi);
    if (c.dpi == 144) font_at_144 = FontHeight(Item(btnGo));
  }
  EXPECT_GT(font_at_144, FontHeight(Item(btnGo)));
}

TEST_F(Win32View, Command1DrawsItsCaptionInTheWindowsFontInsideItsFrame) {
  for (const DpiCase& c : kDpis) {
    SCOPED_TRACE(testing::Message() << c.dpi << " DPI");
    MoveToDpi(view_->Window(), c.dpi);
    const HWND button = Item(Command1);
    const auto font = ::SendMessageW(button, WM_GETFONT, 0, 0);
    EXPECT_EQ(font, ::SendMessageW(Item(btnGo), WM_GETFONT, 0, 0));
    RECT frame{};
    ::GetClientRect(button, &frame);
    const int inset = kCommand1Inset;
    const int width = frame.right - 2 * inset;
    const HDC dc = ::GetDC(button);
    const HGDIOBJ before = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(font));
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    const std::vector<std::wstring> lines = CaptionLines(dc, L"Command1", width);
    std::wstring joined;
    for (const std::wstring& line : lines) {
      SIZE extent{};
      ::GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &extent);
      EXPECT_LE(extent.cx, width) << "the line " << testing::PrintToString(line);
      joined += line;
    }
    ::SelectObject(dc, before);
    ::ReleaseDC(button, dc);
    EXPECT_EQ(joined, L"Command1");
    EXPECT_LE(static_cast<int>(lines.size()) * metrics.tmHeight, frame.bottom - 2 * inset);
  }
}

TEST_F(Win32View, WindowTakesTheSuggestedPlaceAndItsClientAreaHoldsTheLayout) {
  const HWND window = view_->Window();
  std::string unchecked;
  for (const DpiCase& c : kDpis) {
    MoveToDpi(window, c.dpi);
    RECT outer{};
    RECT client{};
    ::GetWindowRect(window, &outer);
    ::GetClientRect(window, &client);
    EXPECT_EQ(outer.left, c.dpi);
    EXPECT_EQ(outer.top, c.dpi / 2);
    const SIZE frame = FrameAt(window, c.dpi);
    if (outer.right - outer.left - client.right != frame.cx ||
        outer.bottom - outer.top - client.bottom != frame.cy) {
      unchecked += " " + std::to_string(c.dpi);
      continue;
    }
    EXPECT_EQ(client.right, c.client_width) << c.dpi << " DPI";
    EXPECT_EQ(client.bottom, c.client_height) << c.dpi << " DPI";
  }
  if (!unchecked.empty()) {
    GTEST_SKIP() << "the system draws the window's frame for its own DPI, not for the one given "
                    "(wine does): the client area is not checked at"
                 << unchecked << " DPI";
  }
}

// Handlers that fail as a handler could: out of memory.
struct FailingEvents : FormEvents {
  void btnGo_Click() override { throw std::bad_alloc(); }
  void chkrekurse_Click() override {}
  void chkDelFolderMove_Click() override {}
  void optEqual_Click(int) override { throw std::runtime_error("option"); }
  void Timer1_Timer() override { throw std::bad_alloc(); }
  void Command1_Click() override {}
  bool Form_QueryUnload(CloseReason) override {
    if (question_fails) throw std::bad_alloc();
    return false;
  }
  void Form_Unload() override { throw std::bad_alloc(); }
  bool question_fails = true;
};

// Answers every message box of this thread as soon as it shows, and keeps
// its title and text.
class BoxAnswerer {
 public:
  BoxAnswerer() : timer_(::SetTimer(nullptr, 0, 20, &Look)) { current = this; }
  ~BoxAnswerer() {
    ::KillTimer(nullptr, timer_);
    current = nullptr;
  }
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;

  std::vector<std::wstring> shown;

 private:
  static void CALLBACK Look(HWND, UINT, UINT_PTR, DWORD) {
    ::EnumThreadWindows(::GetCurrentThreadId(), &Answer, 0);
  }
  static BOOL CALLBACK Answer(HWND window, LPARAM) {
    wchar_t window_class[16] = {};
    ::GetClassNameW(window, window_class, 16);
    if (::lstrcmpW(window_class, L"#32770") != 0 || !::IsWindowVisible(window)) return TRUE;
    wchar_t title[64] = {};
    wchar_t text[256] = {};
    ::GetWindowTextW(window, title, 64);
    ::GetDlgItemTextW(window, 0xFFFF, text, 256);  // a message box's text
    current->shown.push_back(std::wstring(title) + L": " + text);
    ::EndDialog(window, IDOK);
    return TRUE;
  }

  static inline BoxAnswerer* current = nullptr;
  UINT_PTR timer_;
};

TEST_F(Win32View, AFailingHandlerNeverUnwindsThroughTheSystemAndIsShown) {
  FailingEvents failing;
  view_->SetEvents(&failing);
  const HWND window = view_->Window();
  BoxAnswerer boxes;
  ::SendMessageW(Item(btnGo), BM_CLICK, 0, 0);
  ::SendMessageW(Item(optEqual1), BM_CLICK, 0, 0);
  ::SendMessageW(window, WM_TIMER, 1, 0);
  // A close or a session's end whose question fails leaves the window open.
  ::SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(::SendMessageW(window, WM_QUERYENDSESSION, 0, 0), FALSE);
  EXPECT_TRUE(::IsWindow(window));
  EXPECT_FALSE(view_->IsClosing());
  ASSERT_EQ(boxes.shown.size(), 5u);
  EXPECT_EQ(boxes.shown[0],
            L"Arrgh: The window could not finish what it was doing\r\nout of memory");
  EXPECT_EQ(boxes.shown[1], L"Arrgh: The window could not finish what it was doing\r\noption");

  // One that goes ahead closes the window, though the form fails to take
  // its leave.
  failing.question_fails = false;
  ::SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(::IsWindow(window));
  EXPECT_EQ(boxes.shown.size(), 5u) << "a closing window shows no box";
  MSG quit;
  ::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

}  // namespace
}  // namespace qor
