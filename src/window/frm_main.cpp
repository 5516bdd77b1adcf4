#include "window/frm_main.h"

#include <QCoreApplication>

#include "checks/check_date.h"
#include "checks/check_paths.h"
#include "window/byte_text.h"

namespace qor {

frmMain::frmMain(QWidget* parent) : QWidget(parent) {
  BuildControls();
  ConnectHandlers();
  // Until start-up has run the window shows the lit lamp, as its file icon does.
  setWindowIcon(ImageList1.Icon(static_cast<int>(Lamp::Lit)));
  Timer1.setInterval(kTimerInterval);
  Timer1.start();
}

frmMain::~frmMain() = default;

void frmMain::ConnectHandlers() {
  connect(&btnGo, &QPushButton::clicked, this, &frmMain::btnGo_Click);
  connect(&chkrekurse, &QCheckBox::stateChanged, this, &frmMain::chkrekurse_Click);
  connect(&chkDelFolderMove, &QCheckBox::stateChanged, this, &frmMain::chkDelFolderMove_Click);
  connect(&optEqualGroup, &QButtonGroup::idClicked, this, &frmMain::optEqual_Click);
  connect(&Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);
  connect(&Command1, &QPushButton::clicked, this, &frmMain::Command1_Click);
}

void frmMain::btnGo_Click() {
  RunMove(*this, params_);
}

void frmMain::chkrekurse_Click() {
  params_.Recurse = chkrekurse.Value() == 1;
}

void frmMain::chkDelFolderMove_Click() {
  params_.DeleteEmpty = chkDelFolderMove.Value() == 1;
}

void frmMain::optEqual_Click(int index) {
  params_.CompareMode = static_cast<std::int16_t>(index);
}

void frmMain::Timer1_Timer() {
  if (!RunActive) return;
  ++IconFrame;
  if (IconFrame > 3) IconFrame = 1;
  ShowIconFrame();
  Yield();
}

void frmMain::Command1_Click() {}

void frmMain::ShowIconFrame() {
  setWindowIcon(ImageList1.Icon(IconFrame));
}

void frmMain::SetInputsEnabled(bool enabled) {
  btnGo.setEnabled(enabled);
  for (QRadioButton& option : optEqual) option.setEnabled(enabled);
  chkAddDateTarget.setEnabled(enabled);
  chkDelFolderMove.setEnabled(enabled);
  chkrekurse.setEnabled(enabled);
  // Locked boxes stay enabled, so their text can still be selected and copied.
  for (QLineEdit* box : {&txtPath[0], &txtPath[1], &txtDate[0], &txtDate[1], &txtDate[2]}) {
    box->setReadOnly(!enabled);
  }
}

void frmMain::SetCounterLabel(int index, const std::string& text) {
  lblNumber.at(static_cast<std::size_t>(index)).setText(QString::fromStdString(text));
}

bool frmMain::Yield() {
  QCoreApplication::processEvents();
  return !closing_;
}

bool frmMain::CheckDate() {
  return ::qor::CheckDate(*this, *this, params_);
}

bool frmMain::CheckPaths() {
  return ::qor::CheckPaths(*this, *this);
}

void frmMain::SetGoEnabled(bool enabled) {
  btnGo.setEnabled(enabled);
}

void frmMain::SetGoCaption(const std::string& caption) {
  btnGo.setText(DecodeBytes(caption));
}

void frmMain::SetRunActive(bool active) {
  RunActive = active;
}

void frmMain::SetTimerInterval(int milliseconds) {
  if (milliseconds <= 0) {
    Timer1.stop();
    Timer1.setInterval(0);
    return;
  }
  Timer1.start(milliseconds);
}

}  // namespace qor
