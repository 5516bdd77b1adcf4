// The window's inputs as the checks, the settings and the run see them.
#include "window/frm_main.h"

namespace qor {

namespace {

Control BoxControl(CheckBox box) {
  switch (box) {
    case CheckBox::AddDateTarget:
      return Control::chkAddDateTarget;
    case CheckBox::Rekurse:
      return Control::chkrekurse;
    case CheckBox::DelFolderMove:
      break;
  }
  return Control::chkDelFolderMove;
}

}  // namespace

std::string frmMain::PathText(int index) {
  return view_.Text(PathBox(index));
}

void frmMain::SetPathText(int index, const std::string& text) {
  view_.SetText(PathBox(index), text);
}

std::string frmMain::DateText(int index) {
  return view_.Text(DateBox(index));
}

void frmMain::SetDateText(int index, const std::string& text) {
  view_.SetText(DateBox(index), text);
}

int frmMain::CheckValue(CheckBox box) {
  return view_.Value(BoxControl(box));
}

void frmMain::SetCheckValue(CheckBox box, int value) {
  // A box has three values; anything else clears it.
  view_.SetValue(BoxControl(box), value == 1 || value == 2 ? value : 0);
}

void frmMain::FocusPathBox(int index) {
  FocusWhenShown(PathBox(index));
}

void frmMain::FocusDateBox(int index) {
  FocusWhenShown(DateBox(index));
}

void frmMain::FocusWhenShown(Control box) {
  if (shown_) {
    view_.SetFocus(box);
  } else {
    focus_on_show_ = box;
  }
}

}  // namespace qor
