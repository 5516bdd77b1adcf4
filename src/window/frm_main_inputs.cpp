// The window's inputs as the checks, the settings and the run see them:
// byte strings, as paths are on the file system, kept byte for byte.
#include "window/byte_text.h"
#include "window/frm_main.h"

namespace qor {

namespace {

std::string BoxText(const QLineEdit& box) {
  return EncodeText(box.text());
}

void SetBoxText(QLineEdit& box, const std::string& text) {
  box.setText(DecodeBytes(text));
}

}  // namespace

std::string frmMain::PathText(int index) {
  return BoxText(txtPath.at(static_cast<std::size_t>(index)));
}

void frmMain::SetPathText(int index, const std::string& text) {
  SetBoxText(txtPath.at(static_cast<std::size_t>(index)), text);
}

std::string frmMain::DateText(int index) {
  return BoxText(txtDate.at(static_cast<std::size_t>(index)));
}

void frmMain::SetDateText(int index, const std::string& text) {
  SetBoxText(txtDate.at(static_cast<std::size_t>(index)), text);
}

TristateCheckBox& frmMain::Box(CheckBox box) {
  switch (box) {
    case CheckBox::AddDateTarget:
      return chkAddDateTarget;
    case CheckBox::Rekurse:
      return chkrekurse;
    case CheckBox::DelFolderMove:
      break;
  }
  return chkDelFolderMove;
}

int frmMain::CheckValue(CheckBox box) {
  return Box(box).Value();
}

void frmMain::SetCheckValue(CheckBox box, int value) {
  Box(box).SetValue(value);
}

void frmMain::FocusPathBox(int index) {
  FocusWhenShown(txtPath.at(static_cast<std::size_t>(index)));
}

void frmMain::FocusDateBox(int index) {
  FocusWhenShown(txtDate.at(static_cast<std::size_t>(index)));
}

void frmMain::FocusWhenShown(QWidget& box) {
  if (isVisible()) {
    box.setFocus(Qt::OtherFocusReason);
  } else {
    focus_on_show_ = &box;
  }
}

}  // namespace qor
