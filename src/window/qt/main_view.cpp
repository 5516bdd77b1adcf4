#include "window/qt/main_view.h"

#include <QCloseEvent>
#include <QCoreApplication>

#include "window/event_barrier.h"
#include "window/qt/byte_text.h"

namespace qor {

QtFormView::QtFormView(QWidget* parent) : QWidget(parent) {
  BuildControls();
  ConnectEvents();
}

QtFormView::~QtFormView() = default;

void QtFormView::ConnectEvents() {
  // Each event reaches the form only while one is attached.
  connect(&btnGo, &QPushButton::clicked, this, [this] {
    if (events_ != nullptr) GuardEvent(*this, [&] { events_->btnGo_Click(); });
  });
  connect(&chkrekurse, &QCheckBox::stateChanged, this, [this] {
    if (events_ != nullptr) GuardEvent(*this, [&] { events_->chkrekurse_Click(); });
  });
  connect(&chkDelFolderMove, &QCheckBox::stateChanged, this, [this] {
    if (events_ != nullptr) GuardEvent(*this, [&] { events_->chkDelFolderMove_Click(); });
  });
  connect(&optEqualGroup, &QButtonGroup::idClicked, this, [this](int index) {
    if (events_ != nullptr) GuardEvent(*this, [&] { events_->optEqual_Click(index); });
  });
  connect(&Timer1, &QTimer::timeout, this, [this] {
    if (events_ != nullptr) GuardEvent(*this, [&] { events_->Timer1_Timer(); });
  });
  connect(&Command1, &QPushButton::clicked, this, [this] {
    if (events_ != nullptr) GuardEvent(*this, [&] { events_->Command1_Click(); });
  });
}

namespace {

// Element `control` of an array of controls that begins with `first`.
template <typename Kind, std::size_t N>
QWidget& Element(std::array<Kind, N>& controls, Control control, Control first) {
  return controls.at(static_cast<std::size_t>(static_cast<int>(control) - static_cast<int>(first)));
}

}  // namespace

QWidget& QtFormView::Widget(Control control) {
  switch (control) {
    case Control::btnGo:
      return btnGo;
    case Control::txtDate0:
    case Control::txtDate1:
    case Control::txtDate2:
      return Element(txtDate, control, Control::txtDate0);
    case Control::txtPath0:
    case Control::txtPath1:
      return Element(txtPath, control, Control::txtPath0);
    case Control::lblNumber0:
    case Control::lblNumber1:
    case Control::lblNumber2:
      return Element(lblNumber, control, Control::lblNumber0);
    case Control::optEqual0:
    case Control::optEqual1:
    case Control::optEqual2:
      return Element(optEqual, control, Control::optEqual0);
    case Control::chkrekurse:
      return chkrekurse;
    case Control::Command1:
      return Command1;
    case Control::chkAddDateTarget:
      return chkAddDateTarget;
    case Control::chkDelFolderMove:
      break;
  }
  return chkDelFolderMove;
}

TristateCheckBox* QtFormView::CheckBoxOf(Control control) {
  return qobject_cast<TristateCheckBox*>(&Widget(control));
}

std::string QtFormView::Text(Control control) {
  QWidget& widget = Widget(control);
  if (auto* box = qobject_cast<QLineEdit*>(&widget)) return EncodeText(box->text());
  if (auto* label = qobject_cast<QLabel*>(&widget)) return EncodeText(label->text());
  return EncodeText(static_cast<QAbstractButton&>(widget).text());
}

void QtFormView::SetText(Control control, const std::string& text) {
  QWidget& widget = Widget(control);
  if (auto* box = qobject_cast<QLineEdit*>(&widget)) {
    box->setText(DecodeBytes(text));
  } else if (auto* label = qobject_cast<QLabel*>(&widget)) {
    label->setText(DecodeBytes(text));
  } else {
    static_cast<QAbstractButton&>(widget).setText(DecodeBytes(text));
  }
}

int QtFormView::Value(Control control) {
  if (TristateCheckBox* box = CheckBoxOf(control)) return box->Value();
  if (auto* option = qobject_cast<QRadioButton*>(&Widget(control))) {
    return option->isChecked() ? 1 : 0;
  }
  return 0;
}

void QtFormView::SetValue(Control control, int value) {
  if (TristateCheckBox* box = CheckBoxOf(control)) {
    box->SetValue(value);
  } else if (auto* option = qobject_cast<QRadioButton*>(&Widget(control))) {
    option->setChecked(value != 0);
  }
}

void QtFormView::SetEnabled(Control control, bool enabled) {
  Widget(control).setEnabled(enabled);
}

void QtFormView::SetReadOnly(Control control, bool read_only) {
  if (auto* box = qobject_cast<QLineEdit*>(&Widget(control))) box->setReadOnly(read_only);
}

void QtFormView::SetFocus(Control control) {
  Widget(control).setFocus(Qt::OtherFocusReason);
}

void QtFormView::ShowWindow() {
  show();
  activateWindow();
}

void QtFormView::SetIcon(int frame) {
  setWindowIcon(ImageList1.Icon(frame));
}

void QtFormView::StartTimer(int milliseconds) {
  Timer1.start(milliseconds);
}

void QtFormView::StopTimer() {
  Timer1.stop();
  Timer1.setInterval(0);
}

void QtFormView::DoEvents() {
  QCoreApplication::processEvents();
}

void QtFormView::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  const CloseReason reason = event->spontaneous() ? CloseReason::UserCommand : CloseReason::Other;
  // Should the question fail, the window stays: a run may be going on.
  bool cancel = events_ != nullptr;
  if (events_ != nullptr) GuardEvent(*this, [&] { cancel = events_->Form_QueryUnload(reason); });
  if (cancel) {
    event->ignore();
    return;
  }
  event->accept();
  // A run in progress notices this at its next yield and gives up; a closing
  // message it may have open goes away at once.
  closing_ = true;
  message_display_.DismissOpen();
  if (events_ != nullptr) GuardEvent(*this, [&] { events_->Form_Unload(); });
}

void QtFormView::SetMessagePresenter(MessagePresenter presenter) {
  presenter_ = std::move(presenter);
}

MessageAnswer QtFormView::ShowMessage(const std::string& prompt, const std::string& title,
                                      MessageButtons buttons) {
  const MessageRequest request = MakeMessageRequest(prompt, title, buttons);
  if (presenter_) return presenter_(request);
  return message_display_.Show(this, request);
}

}  // namespace qor
