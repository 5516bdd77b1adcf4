#include "window/win32/control_table.h"

#include <commctrl.h>

namespace qor {

namespace {

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kLabel = kChild | SS_LEFT | SS_NOPREFIX;
constexpr DWORD kCounter = kChild | SS_RIGHT | SS_NOPREFIX | SS_CENTERIMAGE;
// Every stop but the option group's own members starts a group of its own, so
// the arrow keys move only between the three option buttons.
constexpr DWORD kBox = kChild | WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL;
constexpr DWORD kCheck = kChild | WS_TABSTOP | WS_GROUP | BS_3STATE;
constexpr DWORD kOption = kChild | BS_AUTORADIOBUTTON;

constexpr ControlRow kControls[] = {
    // Not the default button: Enter in a box must not start a run.
    {Control::btnGo, WC_BUTTONW, L"GO", 4440, 2280, 1935, 735,
     kChild | WS_TABSTOP | WS_GROUP | BS_PUSHBUTTON, 0},
    {Control::txtDate0, WC_EDITW, L"", 840, 1150, 495, 285, kBox, WS_EX_CLIENTEDGE},
    {std::nullopt, WC_STATICW, L"Day", 240, 1150, 495, 255, kLabel, 0},
    {Control::txtDate1, WC_EDITW, L"", 2160, 1150, 495, 285, kBox, WS_EX_CLIENTEDGE},
    {std::nullopt, WC_STATICW, L"Month", 1560, 1150, 495, 255, kLabel, 0},
    {Control::txtDate2, WC_EDITW, L"", 3480, 1150, 495, 285, kBox, WS_EX_CLIENTEDGE},
    {std::nullopt, WC_STATICW, L"Year", 2880, 1150, 495, 255, kLabel, 0},
    {std::nullopt, WC_STATICW, L"Source Path", 120, 120, 975, 255, kLabel, 0},
    {Control::txtPath0, WC_EDITW, L"", 1200, 120, 5295, 285, kBox, WS_EX_CLIENTEDGE},
    {std::nullopt, WC_STATICW, L"Target Path", 120, 480, 975, 255, kLabel, 0},
    {Control::txtPath1, WC_EDITW, L"", 1200, 480, 5295, 285, kBox, WS_EX_CLIENTEDGE},
    {std::nullopt, WC_STATICW, L"Searched", 240, 2040, 855, 255, kLabel, 0},
    {Control::lblNumber0, WC_STATICW, L"0", 1320, 2040, 1215, 255, kCounter, WS_EX_STATICEDGE},
    {std::nullopt, WC_STATICW, L"Moved", 240, 2400, 855, 255, kLabel, 0},
    {Control::lblNumber1, WC_STATICW, L"0", 1320, 2400, 1215, 255, kCounter, WS_EX_STATICEDGE},
    // "<" and ">" stand half over the right end of "="; "=" ends where they
    // begin, so that none of the three hides part of another.
    {Control::optEqual0, WC_BUTTONW, L"=", 5160, 1180, 600, 195, kOption | WS_GROUP | WS_TABSTOP,
     0},
    {Control::optEqual1, WC_BUTTONW, L"<", 5760, 1080, 435, 195, kOption, 0},
    {Control::optEqual2, WC_BUTTONW, L">", 5760, 1320, 435, 195, kOption, 0},
    {std::nullopt, WC_STATICW, L"Date is :", 4200, 1150, 735, 255, kLabel | WS_GROUP, 0},
    {Control::lblNumber2, WC_STATICW, L"0", 1320, 2760, 1215, 255, kCounter, WS_EX_STATICEDGE},
    {std::nullopt, WC_STATICW, L"Size (bytes)", 240, 2760, 855, 255, kLabel, 0},
    {std::nullopt, WC_STATICW, L"KB", 2640, 2760, 255, 255, kLabel, 0},
    {Control::chkrekurse, WC_BUTTONW, L"Rekursive search", 3480, 1680, 1695, 195, kCheck, 0},
    // Too narrow for its caption on one line: drawn by the view, broken over
    // lines.
    {Control::Command1, WC_BUTTONW, L"Command1", 3360, 2400, 495, 495,
     kChild | WS_TABSTOP | WS_GROUP | BS_OWNERDRAW, 0},
    {Control::chkAddDateTarget, WC_BUTTONW, L"Add Date to Target path", 1200, 840, 2055, 195,
     kCheck, 0},
    {Control::chkDelFolderMove, WC_BUTTONW, L"delete empty folder after move", 3480, 1920, 2535,
     255, kCheck, 0},
};

}  // namespace

std::span<const ControlRow> ControlTable() {
  return kControls;
}

}  // namespace qor
