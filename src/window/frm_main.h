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

#include "run/move_run.h"
#include "run/search_params.h"
#include "window/compact_indicator_style.h"
#include "window/lamp_pictures.h"
#include "window/message_display.h"
#include "window/tristate_check_box.h"
#include "window/wrapping_push_button.h"

namespace qor {

// Why the window is asked to close: by the user's own close command (close
// box, window menu, shortcut) or for another reason (session end, code).
enum class CloseReason { UserCommand, Other };

// The program's only window: the inputs of a move run, the GO button, the
// three counters and the lamp icon that blinks while a run goes on.
class frmMain : public QWidget, public RunWindow {
  Q_OBJECT

 public:
  explicit frmMain(QWidget* parent = nullptr);
  ~frmMain() override;

  // Start-up, before the window is shown. `argument_text` is the program's
  // arguments joined with blanks.
  void Form_Load(const std::string& argument_text);
  // Shows the window with the focus where start-up left it (GO by default).
  void ShowAfterStartUp();

  // Puts `presenter` in place of the modal message boxes; an empty one brings
  // the boxes back.
  void SetMessagePresenter(MessagePresenter presenter);

  SearchParams& Params() { return params_; }
  bool IsRunActive() const { return RunActive; }
  int CurrentIconFrame() const { return IconFrame; }
  // Picture `index` (1 to 3) of the window's image list.
  const QPixmap& LampPicture(int index) const { return ImageList1.Picture(index); }
  bool IsTimerRunning() const { return Timer1.isActive(); }
  int TimerInterval() const { return Timer1.interval(); }

  // The close question; true cancels the close.
  bool Form_QueryUnload(CloseReason reason);

  // MessageBoxes
  MessageAnswer ShowMessage(const std::string& prompt,
                            const std::optional<std::string>& title = std::nullopt,
                            MessageButtons buttons = MessageButtons::Ok) override;

  // WindowInputs
  std::string PathText(int index) override;
  void SetPathText(int index, const std::string& text) override;
  std::string DateText(int index) override;
  void SetDateText(int index, const std::string& text) override;
  int CheckValue(CheckBox box) override;
  void SetCheckValue(CheckBox box, int value) override;
  void FocusPathBox(int index) override;
  void FocusDateBox(int index) override;

  // WalkObserver
  void SetCounterLabel(int index, const std::string& text) override;
  bool Yield() override;

  // RunWindow
  bool CheckDate() override;
  bool CheckPaths() override;
  void SetGoEnabled(bool enabled) override;
  void SetGoCaption(const std::string& caption) override;
  void SetRunActive(bool active) override;
  void SetInputsEnabled(bool enabled) override;
  void SetTimerInterval(int milliseconds) override;
  bool IsClosing() override { return closing_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private slots:
  void btnGo_Click();
  void chkrekurse_Click();
  void chkDelFolderMove_Click();
  void optEqual_Click(int index);
  void Timer1_Timer();
  void Command1_Click();

 private:
  void BuildControls();
  void PlaceControls();
  void SetTabOrder();
  void FitFont();
  void ConnectHandlers();
  void Form_Unload();
  void ShowIconFrame();
  TristateCheckBox& Box(CheckBox box);
  void FocusWhenShown(QWidget& box);

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

  SearchParams params_;
  std::string SettingsFile;
  bool RunActive = false;
  int IconFrame = 0;
  // Set once a close has gone ahead; a run in progress gives up at its next
  // yield and touches the window no more.
  bool closing_ = false;
  QWidget* focus_on_show_ = nullptr;

  MessagePresenter presenter_;
  MessageDisplay message_display_;
};

}  // namespace qor
