// What the Qt view itself does: which widget stands for which control, the
// byte-exact texts, the tri-state click, real read-only boxes, the focus, the
// lamp pictures, the timer and the event loop.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "qt_app.h"

namespace qor {
namespace {

using test::Find;

class QtView : public test::QtWindow, public ::testing::Test {};

void Type(QWidget& box, Qt::Key key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(&box, &press);
}

QString WidgetText(QWidget& widget) {
  if (auto* box = qobject_cast<QLineEdit*>(&widget)) return box->text();
  if (auto* label = qobject_cast<QLabel*>(&widget)) return label->text();
  return static_cast<QAbstractButton&>(widget).text();
}

const struct {
  Control control;
  const char* name;
} kWidgets[] = {
    {Control::btnGo, "btnGo"},
    {Control::txtDate0, "txtDate(0)"},
    {Control::txtDate1, "txtDate(1)"},
    {Control::txtDate2, "txtDate(2)"},
    {Control::txtPath0, "txtPath(0)"},
    {Control::txtPath1, "txtPath(1)"},
    {Control::lblNumber0, "lblNumber(0)"},
    {Control::lblNumber1, "lblNumber(1)"},
    {Control::lblNumber2, "lblNumber(2)"},
    {Control::optEqual0, "optEqual(0)"},
    {Control::optEqual1, "optEqual(1)"},
    {Control::optEqual2, "optEqual(2)"},
    {Control::chkrekurse, "chkrekurse"},
    {Control::Command1, "Command1"},
    {Control::chkAddDateTarget, "chkAddDateTarget"},
    {Control::chkDelFolderMove, "chkDelFolderMove"},
};

TEST_F(QtView, EachControlIsItsOwnWidgetAndTextsKeepEveryByte) {
  const std::string texts[] = {"/data/in/",
                               "/tmp/caf\xc3\xa9/",
                               "/tmp/bad\xff\xfe/x",
                               "/tmp/cut\xe2\x82",
                               "/tmp/overlong\xc0\xaf/",
                               "/tmp/\xed\xa0\x80surrogate",
                               "/tmp/emoji\xf0\x9f\x98\x80/",
                               ""};
  for (const auto& widget : kWidgets) {
    SCOPED_TRACE(widget.name);
    QWidget& control = Find(view, widget.name);
    for (const std::string& text : texts) {
      view.SetText(widget.control, text);
      EXPECT_EQ(view.Text(widget.control), text);
    }
    view.SetText(widget.control, "caf\xc3\xa9");
    EXPECT_EQ(WidgetText(control), QString::fromUtf8("café"));
    view.SetEnabled(widget.control, false);
    EXPECT_FALSE(control.isEnabled());
    view.SetEnabled(widget.control, true);
    EXPECT_TRUE(control.isEnabled());
  }
}

TEST_F(QtView, UserClickTogglesBetweenClearAndTickedOnly) {
  const struct {
    const char* name;
    CheckBox box;
    bool SearchParams::*flag;
  } boxes[] = {{"chkrekurse", CheckBox::Rekurse, &SearchParams::Recurse},
               {"chkDelFolderMove", CheckBox::DelFolderMove, &SearchParams::DeleteEmpty}};
  for (const auto& box : boxes) {
    SCOPED_TRACE(box.name);
    auto& control = Find<QCheckBox>(view, box.name);
    control.click();
    EXPECT_EQ(form.CheckValue(box.box), 1);
    EXPECT_TRUE(form.Params().*box.flag);
    control.click();
    EXPECT_EQ(form.CheckValue(box.box), 0);
    EXPECT_FALSE(form.Params().*box.flag);
    form.SetCheckValue(box.box, 2);
    EXPECT_EQ(control.checkState(), Qt::PartiallyChecked);
    control.click();
    EXPECT_EQ(form.CheckValue(box.box), 0);
    EXPECT_FALSE(form.Params().*box.flag);
  }
}

TEST_F(QtView, OptionClickSelectsOneAndReachesTheForm) {
  for (int index : {1, 2, 0, 2}) {
    SCOPED_TRACE(index);
    Find<QRadioButton>(view, kWidgets[9 + index].name).click();
    EXPECT_EQ(form.Params().CompareMode, index);
    for (int other = 0; other < 3; ++other) {
      EXPECT_EQ(view.Value(OptionButton(other)), other == index ? 1 : 0);
    }
  }
}

TEST_F(QtView, LockedBoxesKeepFocusAndSelectionButRefuseTyping) {
  view.ShowWindow();
  QApplication::setActiveWindow(&view);
  form.SetPathText(kSourceBox, "/in/");
  form.SetDateText(kDayBox, "15");
  for (const bool locked : {true, false}) {
    form.SetInputsEnabled(!locked);
    for (int index = 1; index <= 5; ++index) {
      SCOPED_TRACE(kWidgets[index].name);
      auto& box = Find<QLineEdit>(view, kWidgets[index].name);
      EXPECT_TRUE(box.isEnabled());
      EXPECT_EQ(box.isReadOnly(), locked);
      const QString before = box.text();
      box.setFocus();
      EXPECT_TRUE(box.hasFocus());
      box.selectAll();
      EXPECT_EQ(box.selectedText(), before);
      Type(box, Qt::Key_X, QStringLiteral("x"));
      EXPECT_EQ(box.text(), locked ? before : QStringLiteral("x"));
    }
  }
}

TEST_F(QtView, FocusAskedForBeforeShowingWaitsForTheWindow) {
  form.FocusDateBox(kMonthBox);
  form.ShowAfterStartUp();
  QApplication::setActiveWindow(&view);
  EXPECT_EQ(QApplication::focusWidget(), &Find(view, "txtDate(1)"));
  form.FocusPathBox(kTargetBox);
  EXPECT_EQ(QApplication::focusWidget(), &Find(view, "txtPath(1)"));
}

bool SameImage(const QIcon& icon, const QPixmap& picture) {
  return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32) ==
         picture.toImage().convertToFormat(QImage::Format_ARGB32);
}

TEST_F(QtView, LampPicturesDifferAndFrameNShowsPictureN) {
  for (int index = 1; index <= 3; ++index) {
    SCOPED_TRACE(index);
    const QImage image = view.LampPicture(index).toImage();
    EXPECT_EQ(image.size(), QSize(16, 16));
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(8, 8)), 255);
    for (int other = index + 1; other <= 3; ++other) {
      EXPECT_NE(image, view.LampPicture(other).toImage());
    }
  }
  // Unlit black, lit red, white.
  EXPECT_EQ(view.LampPicture(1).toImage().pixel(8, 8), qRgb(0, 0, 0));
  EXPECT_GT(qRed(view.LampPicture(2).toImage().pixel(8, 8)), 200);
  EXPECT_EQ(qGreen(view.LampPicture(2).toImage().pixel(8, 8)), 0);
  EXPECT_EQ(view.LampPicture(3).toImage().pixel(8, 8), qRgb(255, 255, 255));

  EXPECT_TRUE(SameImage(view.windowIcon(), view.LampPicture(2))) << "the lit lamp at first";
  for (int frame : {1, 3, 2}) {
    view.SetIcon(frame);
    EXPECT_TRUE(SameImage(view.windowIcon(), view.LampPicture(frame))) << frame;
  }
}

TEST_F(QtView, TimerTicksReachTheFormUntilStopped) {
  form.SetTimerInterval(0);
  EXPECT_FALSE(view.IsTimerRunning());
  EXPECT_EQ(view.TimerInterval(), 0);
  form.SetTimerInterval(800);
  EXPECT_TRUE(view.IsTimerRunning());
  EXPECT_EQ(view.TimerInterval(), 800);

  form.SetRunActive(true);
  form.SetTimerInterval(1);
  const QDeadlineTimer deadline(5000);
  while (form.CurrentIconFrame() == 0 && !deadline.hasExpired()) view.DoEvents();
  EXPECT_EQ(form.CurrentIconFrame(), 1);
}

TEST_F(QtView, YieldLetsWaitingEventsRun) {
  bool handled = false;
  QMetaObject::invokeMethod(
      &view, [&handled] { handled = true; }, Qt::QueuedConnection);
  EXPECT_TRUE(form.Yield());
  EXPECT_TRUE(handled);
}

}  // namespace
}  // namespace qor

namespace qor {
namespace {

// Handlers that fail as a handler could: out of memory.
struct FailingEvents : FormEvents {
  void btnGo_Click() override { throw std::bad_alloc(); }
  void chkrekurse_Click() override { throw std::bad_alloc(); }
  void chkDelFolderMove_Click() override {}
  void optEqual_Click(int) override { throw std::runtime_error("option"); }
  void Timer1_Timer() override {}
  void Command1_Click() override {}
  bool Form_QueryUnload(CloseReason) override { throw std::bad_alloc(); }
  void Form_Unload() override {}
};

TEST_F(QtView, AFailingHandlerNeverUnwindsThroughQtAndIsShown) {
  FailingEvents failing;
  view.SetEvents(&failing);
  std::vector<QString> shown;
  view.SetMessagePresenter([&](const MessageRequest& request) {
    shown.push_back(request.title + ": " + request.text);
    return MessageAnswer::Ok;
  });
  Find<QPushButton>(view, "btnGo").click();
  Find<QCheckBox>(view, "chkrekurse").click();
  Find<QRadioButton>(view, "optEqual(1)").click();
  // A close whose question fails leaves the window open.
  view.show();
  EXPECT_FALSE(view.close());
  EXPECT_FALSE(view.IsClosing());
  view.SetEvents(&form);

  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0], "Arrgh: The window could not finish what it was doing\nout of memory");
  EXPECT_TRUE(shown[2].endsWith("option"));
}

}  // namespace
}  // namespace qor
