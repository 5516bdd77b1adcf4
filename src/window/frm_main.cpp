#include "window/frm_main.h"

#include "checks/check_date.h"
#include "checks/check_paths.h"
#include "window/lamp.h"

namespace qor {

namespace {

// Locked by making them read-only, never by greying them.
constexpr Control kTextBoxes[] = {Control::txtPath0, Control::txtPath1, Control::txtDate0,
                                  Control::txtDate1, Control::txtDate2};

}  // namespace

frmMain::frmMain(FormView& view) : view_(view) {
  view_.SetEvents(this);
  // Until start-up has run the window shows the lit lamp, as its file icon does.
  view_.SetIcon(kLampLit);
  view_.StartTimer(kTimerInterval);
}

frmMain::~frmMain() {
  view_.SetEvents(nullptr);
}

void frmMain::btnGo_Click() {
  RunMove(*this, params_);
}

void frmMain::chkrekurse_Click() {
  params_.Recurse = view_.Value(Control::chkrekurse) == 1;
}

void frmMain::chkDelFolderMove_Click() {
  params_.DeleteEmpty = view_.Value(Control::chkDelFolderMove) == 1;
}

void frmMain::optEqual_Click(int index) {
  params_.CompareMode = static_cast<std::int16_t>(index);
}

void frmMain::Timer1_Timer() {
  if (!RunActive) return;
  IconFrame = NextLampFrame(IconFrame);
  view_.SetIcon(IconFrame);
  Yield();
}

void frmMain::Command1_Click() {}

void frmMain::SetInputsEnabled(bool enabled) {
  view_.SetEnabled(Control::btnGo, enabled);
  for (int index = 0; index < 3; ++index) view_.SetEnabled(OptionButton(index), enabled);
  view_.SetEnabled(Control::chkAddDateTarget, enabled);
  view_.SetEnabled(Control::chkDelFolderMove, enabled);
  view_.SetEnabled(Control::chkrekurse, enabled);
  // Locked boxes stay enabled, so their text can still be selected and copied.
  for (Control box : kTextBoxes) view_.SetReadOnly(box, !enabled);
}

void frmMain::SetCounterLabel(int index, const std::string& text) {
  view_.SetText(CounterLabel(index), text);
}

bool frmMain::Yield() {
  view_.DoEvents();
  return !view_.IsClosing();
}

bool frmMain::CheckDate() {
  return ::qor::CheckDate(*this, *this, params_);
}

bool frmMain::CheckPaths() {
  return ::qor::CheckPaths(*this, *this);
}

void frmMain::SetGoEnabled(bool enabled) {
  view_.SetEnabled(Control::btnGo, enabled);
}

void frmMain::SetGoCaption(const std::string& caption) {
  view_.SetText(Control::btnGo, caption);
}

void frmMain::SetRunActive(bool active) {
  RunActive = active;
}

void frmMain::SetTimerInterval(int milliseconds) {
  if (milliseconds <= 0) {
    view_.StopTimer();
  } else {
    view_.StartTimer(milliseconds);
  }
}

}  // namespace qor
