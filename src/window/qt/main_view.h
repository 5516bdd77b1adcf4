#pragma once

#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWidget>
#include <array>
#include <string>

#include "window/form_view.h"
#include "window/qt/compact_indicator_style.h"
#include "window/qt/lamp_pictures.h"
#include "window/qt/message_display.h"
#include "window/qt/tristate_check_box.h"
#include "window/qt/wrapping_push_button.h"

namespace qor {

// The main window drawn with Qt Widgets: the controls in their places, and
// their events passed on to the form.
class QtFormView : public QWidget, public FormView {
  Q_OBJECT

 public:
  explicit QtFormView(QWidget* parent = nullptr);
  ~QtFormView() override;

  // Puts `presenter` in place of the modal message boxes; an empty one brings
  // the boxes back.
  void SetMessagePresenter(MessagePresenter presenter);

  // Picture `index` (1 to 3) of the window's image list.
  const QPixmap& LampPicture(int index) const { return ImageList1.Picture(index); }
  bool IsTimerRunning() const { return Timer1.isActive(); }
  int TimerInterval() const { return Timer1.interval(); }

  // FormView
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

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void PlaceControls();
  void SetTabOrder();
  void FitFont();
  void ConnectEvents();
  QWidget& Widget(Control control);
  TristateCheckBox* CheckBoxOf(Control control);

  // Outlives the controls that use it.
  CompactIndicatorStyle compact_style_;

  // Controls, in tab order.
  QPushButton btnGo;
  std::array<QLineEdit, 3> txtDate;
  std::array<QLabel, 3> Label1;
  std::array<QLabel, 2> Label2;
  std::array<QLineEdit, 2> txtPath;
  std::array<QLabel, 3> Label3;
  std::array<QLabel, 3> lblNumber;
  std::array<QRadioButton, 3> optEqual;
  QLabel Label4;
  QLabel Label5;
  TristateCheckBox chkrekurse;
  WrappingPushButton Command1;
  TristateCheckBox chkAddDateTarget;
  TristateCheckBox chkDelFolderMove;

  QButtonGroup optEqualGroup;
  QTimer Timer1;
  LampImageList ImageList1;

  FormEvents* events_ = nullptr;
  // Set once a close has gone ahead; a run in progress gives up at its next
  // yield and touches the window no more.
  bool closing_ = false;

  MessagePresenter presenter_;
  MessageDisplay message_display_;
};

}  // namespace qor
