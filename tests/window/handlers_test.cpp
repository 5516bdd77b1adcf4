#include <gtest/gtest.h>

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "qt_app.h"

namespace qor {
namespace {

using test::App;
using test::Find;

class WindowHandlers : public test::WithApp, public ::testing::Test {
 protected:
  WindowHandlers() { App(); }
  frmMain window;
};

struct FlagCase {
  CheckBox box;
  bool SearchParams::*flag;
  const char* name;
};

const FlagCase kFlagBoxes[] = {
    {CheckBox::Rekurse, &SearchParams::Recurse, "chkrekurse"},
    {CheckBox::DelFolderMove, &SearchParams::DeleteEmpty, "chkDelFolderMove"},
};

TEST_F(WindowHandlers, ValueSetByCodeKeepsFlagTrueOnlyWhenTicked) {
  struct Step {
    int value;
    bool flag;
  };
  // Greyed after ticked must clear the flag: a handler that only looks at
  // "not unchecked" gets this wrong.
  const Step steps[] = {{1, true}, {2, false}, {1, true}, {0, false}, {2, false}, {0, false}};
  for (const FlagCase& box : kFlagBoxes) {
    SCOPED_TRACE(box.name);
    for (const Step& step : steps) {
      window.SetCheckValue(box.box, step.value);
      EXPECT_EQ(window.CheckValue(box.box), step.value);
      EXPECT_EQ(window.Params().*box.flag, step.flag) << "value " << step.value;
    }
  }
}

TEST_F(WindowHandlers, UserClickTogglesBetweenClearAndTickedOnly) {
  for (const FlagCase& box : kFlagBoxes) {
    SCOPED_TRACE(box.name);
    auto& control = Find<QCheckBox>(window, box.name);
    control.click();
    EXPECT_EQ(window.CheckValue(box.box), 1);
    EXPECT_TRUE(window.Params().*box.flag);
    control.click();
    EXPECT_EQ(window.CheckValue(box.box), 0);
    EXPECT_FALSE(window.Params().*box.flag);
    window.SetCheckValue(box.box, 2);
    control.click();
    EXPECT_EQ(window.CheckValue(box.box), 0);
    EXPECT_FALSE(window.Params().*box.flag);
  }
}

TEST_F(WindowHandlers, DateFolderBoxHoldsItsValueWithoutTouchingParams) {
  const SearchParams before = window.Params();
  for (int value : {2, 1, 0}) {
    window.SetCheckValue(CheckBox::AddDateTarget, value);
    EXPECT_EQ(window.CheckValue(CheckBox::AddDateTarget), value);
  }
  EXPECT_EQ(window.Params().Recurse, before.Recurse);
  EXPECT_EQ(window.Params().DeleteEmpty, before.DeleteEmpty);
}

TEST_F(WindowHandlers, ValueOutsideTheThreeStatesClearsTheBox) {
  window.SetCheckValue(CheckBox::Rekurse, 1);
  window.SetCheckValue(CheckBox::Rekurse, 7);
  EXPECT_EQ(window.CheckValue(CheckBox::Rekurse), 0);
  EXPECT_FALSE(window.Params().Recurse);
}

TEST_F(WindowHandlers, OptionClickSetsCompareModeToItsIndex) {
  const struct {
    const char* name;
    std::int16_t mode;
  } clicks[] = {{"optEqual(1)", kCompareBefore},
                {"optEqual(2)", kCompareAfter},
                {"optEqual(0)", kCompareEqual},
                {"optEqual(2)", kCompareAfter}};
  for (const auto& click : clicks) {
    SCOPED_TRACE(click.name);
    Find<QRadioButton>(window, click.name).click();
    EXPECT_EQ(window.Params().CompareMode, click.mode);
    EXPECT_TRUE(Find<QRadioButton>(window, click.name).isChecked());
  }
}

bool SameImage(const QIcon& icon, const QPixmap& picture) {
  return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32) ==
         picture.toImage().convertToFormat(QImage::Format_ARGB32);
}

void Tick(frmMain& window) {
  QMetaObject::invokeMethod(&window, "Timer1_Timer");
}

TEST_F(WindowHandlers, LampPicturesDifferAndHaveTransparentCorners) {
  for (int index = 1; index <= 3; ++index) {
    SCOPED_TRACE(index);
    const QImage image = window.LampPicture(index).toImage();
    EXPECT_EQ(image.size(), QSize(16, 16));
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(8, 8)), 255);
    for (int other = index + 1; other <= 3; ++other) {
      EXPECT_NE(image, window.LampPicture(other).toImage());
    }
  }
  // Unlit black, lit red, white.
  EXPECT_EQ(window.LampPicture(1).toImage().pixel(8, 8), qRgb(0, 0, 0));
  EXPECT_GT(qRed(window.LampPicture(2).toImage().pixel(8, 8)), 200);
  EXPECT_EQ(qGreen(window.LampPicture(2).toImage().pixel(8, 8)), 0);
  EXPECT_EQ(window.LampPicture(3).toImage().pixel(8, 8), qRgb(255, 255, 255));
}

TEST_F(WindowHandlers, IconShowsLitLampUntilStartUpSetsTheUnlitOne) {
  EXPECT_TRUE(SameImage(window.windowIcon(), window.LampPicture(2)));
  window.Form_Load("");
  EXPECT_EQ(window.CurrentIconFrame(), 1);
  EXPECT_TRUE(SameImage(window.windowIcon(), window.LampPicture(1)));
}

TEST_F(WindowHandlers, TickDuringRunAdvancesFramesAndIdleTickChangesNothing) {
  window.Form_Load("");
  Tick(window);
  EXPECT_EQ(window.CurrentIconFrame(), 1);
  EXPECT_TRUE(SameImage(window.windowIcon(), window.LampPicture(1)));

  window.SetRunActive(true);
  for (int expected : {2, 3, 1, 2}) {
    Tick(window);
    EXPECT_EQ(window.CurrentIconFrame(), expected);
    EXPECT_TRUE(SameImage(window.windowIcon(), window.LampPicture(expected)));
  }
  // After the run the lamp keeps its last frame, and the next run goes on
  // from there.
  window.SetRunActive(false);
  Tick(window);
  EXPECT_EQ(window.CurrentIconFrame(), 2);
  EXPECT_TRUE(SameImage(window.windowIcon(), window.LampPicture(2)));
  window.SetRunActive(true);
  Tick(window);
  EXPECT_EQ(window.CurrentIconFrame(), 3);
}

TEST_F(WindowHandlers, TickYieldsToWaitingEvents) {
  window.SetRunActive(true);
  bool handled = false;
  QMetaObject::invokeMethod(
      &window, [&handled] { handled = true; }, Qt::QueuedConnection);
  Tick(window);
  EXPECT_TRUE(handled);
}

TEST_F(WindowHandlers, TimerIntervalZeroStopsAndAnyOtherStarts) {
  window.SetTimerInterval(0);
  EXPECT_FALSE(window.IsTimerRunning());
  EXPECT_EQ(window.TimerInterval(), 0);
  window.SetTimerInterval(800);
  EXPECT_TRUE(window.IsTimerRunning());
  EXPECT_EQ(window.TimerInterval(), 800);
}

TEST_F(WindowHandlers, Command1ChangesNothing) {
  window.SetPathText(kSourceBox, "/in/");
  window.SetCheckValue(CheckBox::Rekurse, 2);
  const SearchParams before = window.Params();
  const QIcon icon_before = window.windowIcon();
  Find<QPushButton>(window, "Command1").click();
  EXPECT_EQ(window.PathText(kSourceBox), "/in/");
  EXPECT_EQ(window.CheckValue(CheckBox::Rekurse), 2);
  EXPECT_EQ(window.Params().Recurse, before.Recurse);
  EXPECT_EQ(window.Params().CompareMode, before.CompareMode);
  EXPECT_EQ(window.CurrentIconFrame(), 0);
  EXPECT_EQ(icon_before.cacheKey(), window.windowIcon().cacheKey());
}

TEST_F(WindowHandlers, CounterLabelsShowWhatTheWalkSets) {
  window.SetCounterLabel(0, "12");
  window.SetCounterLabel(1, "3");
  window.SetCounterLabel(2, "40960");
  EXPECT_EQ(Find<QLabel>(window, "lblNumber(0)").text(), QStringLiteral("12"));
  EXPECT_EQ(Find<QLabel>(window, "lblNumber(1)").text(), QStringLiteral("3"));
  EXPECT_EQ(Find<QLabel>(window, "lblNumber(2)").text(), QStringLiteral("40960"));
}

TEST_F(WindowHandlers, GoButtonFollowsTheRun) {
  window.SetGoCaption("working...");
  window.SetGoEnabled(false);
  EXPECT_EQ(Find<QPushButton>(window, "btnGo").text(), QStringLiteral("working..."));
  EXPECT_FALSE(Find(window, "btnGo").isEnabled());
}

TEST_F(WindowHandlers, TextsRoundTripAsBytes) {
  const std::string texts[] = {"/data/in/",
                               "/tmp/caf\xc3\xa9/",
                               "/tmp/bad\xff\xfe/x",
                               "/tmp/cut\xe2\x82",
                               "/tmp/overlong\xc0\xaf/",
                               "/tmp/\xed\xa0\x80surrogate",
                               "/tmp/emoji\xf0\x9f\x98\x80/",
                               ""};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    window.SetPathText(kTargetBox, text);
    EXPECT_EQ(window.PathText(kTargetBox), text);
    window.SetDateText(kYearBox, text);
    EXPECT_EQ(window.DateText(kYearBox), text);
  }
  window.SetPathText(kSourceBox, "/tmp/caf\xc3\xa9/");
  EXPECT_EQ(Find<QLineEdit>(window, "txtPath(0)").text(), QString::fromUtf8("/tmp/café/"));
}

}  // namespace
}  // namespace qor
