// The handlers of the window's controls and the lamp's frames, against a
// window without a toolkit.
#include <gtest/gtest.h>

#include "fake_view.h"
#include "window/frm_main.h"

namespace qor {
namespace {

class FormHandlers : public ::testing::Test {
 protected:
  test::FakeView view;
  frmMain form{view};
};

struct FlagCase {
  CheckBox box;
  Control control;
  bool SearchParams::*flag;
};

const FlagCase kFlagBoxes[] = {
    {CheckBox::Rekurse, Control::chkrekurse, &SearchParams::Recurse},
    {CheckBox::DelFolderMove, Control::chkDelFolderMove, &SearchParams::DeleteEmpty},
};

TEST_F(FormHandlers, ValueSetByCodeKeepsFlagTrueOnlyWhenTicked) {
  struct Step {
    int value;
    int shown;
    bool flag;
  };
  // Greyed after ticked must clear the flag: a handler that only looks at
  // "not unchecked" gets this wrong. A value outside the three clears the box.
  const Step steps[] = {{1, 1, true},  {2, 2, false}, {1, 1, true}, {0, 0, false},
                        {2, 2, false}, {1, 1, true},  {7, 0, false}};
  for (const FlagCase& box : kFlagBoxes) {
    SCOPED_TRACE(static_cast<int>(box.control));
    for (const Step& step : steps) {
      form.SetCheckValue(box.box, step.value);
      EXPECT_EQ(form.CheckValue(box.box), step.shown);
      EXPECT_EQ(view.State(box.control).value, step.shown);
      EXPECT_EQ(form.Params().*box.flag, step.flag) << "value " << step.value;
    }
  }
}

TEST_F(FormHandlers, UserClickReachesTheFlag) {
  for (const FlagCase& box : kFlagBoxes) {
    view.Click(box.control);
    EXPECT_TRUE(form.Params().*box.flag);
    view.Click(box.control);
    EXPECT_FALSE(form.Params().*box.flag);
  }
}

TEST_F(FormHandlers, DateFolderBoxHoldsItsValueWithoutTouchingParams) {
  form.SetCheckValue(CheckBox::Rekurse, 1);
  const SearchParams before = form.Params();
  for (int value : {2, 1, 0}) {
    form.SetCheckValue(CheckBox::AddDateTarget, value);
    EXPECT_EQ(view.State(Control::chkAddDateTarget).value, value);
  }
  EXPECT_EQ(form.Params().Recurse, before.Recurse);
  EXPECT_EQ(form.Params().DeleteEmpty, before.DeleteEmpty);
}

TEST_F(FormHandlers, OptionClickSetsCompareModeToItsIndex) {
  EXPECT_EQ(form.Params().CompareMode, kCompareEqual);
  const struct {
    int index;
    std::int16_t mode;
  } clicks[] = {{1, kCompareBefore}, {2, kCompareAfter}, {0, kCompareEqual}, {2, kCompareAfter}};
  for (const auto& click : clicks) {
    SCOPED_TRACE(click.index);
    view.Click(OptionButton(click.index));
    EXPECT_EQ(form.Params().CompareMode, click.mode);
  }
}

TEST_F(FormHandlers, IconShowsLitLampUntilStartUpSetsTheUnlitOne) {
  EXPECT_EQ(view.Icon(), 2);
  EXPECT_EQ(form.CurrentIconFrame(), 0);
  form.Form_Load("");
  EXPECT_EQ(form.CurrentIconFrame(), 1);
  EXPECT_EQ(view.Icon(), 1);
}

TEST_F(FormHandlers, TickDuringRunAdvancesFramesAndYieldsIdleTickChangesNothing) {
  form.Form_Load("");
  const std::size_t icons_set = view.icons.size();
  view.Tick();
  EXPECT_EQ(form.CurrentIconFrame(), 1);
  EXPECT_EQ(view.icons.size(), icons_set);
  EXPECT_EQ(view.yields, 0);

  form.SetRunActive(true);
  int yields = 0;
  for (int expected : {2, 3, 1, 2}) {
    view.Tick();
    EXPECT_EQ(form.CurrentIconFrame(), expected);
    EXPECT_EQ(view.Icon(), expected);
    EXPECT_EQ(view.yields, ++yields) << "each tick lets waiting events run";
  }
  // After the run the lamp keeps its last frame, and the next run goes on
  // from there.
  form.SetRunActive(false);
  view.Tick();
  EXPECT_EQ(form.CurrentIconFrame(), 2);
  EXPECT_EQ(view.Icon(), 2);
  form.SetRunActive(true);
  view.Tick();
  EXPECT_EQ(form.CurrentIconFrame(), 3);
}

TEST_F(FormHandlers, TimerRunsFromTheStartAndIntervalZeroStopsIt) {
  EXPECT_TRUE(view.timer_running);
  EXPECT_EQ(view.timer_interval, 800);
  form.SetTimerInterval(0);
  EXPECT_FALSE(view.timer_running);
  form.SetTimerInterval(800);
  EXPECT_TRUE(view.timer_running);
  EXPECT_EQ(view.timer_interval, 800);
}

TEST_F(FormHandlers, Command1ChangesNothing) {
  form.SetPathText(kSourceBox, "/in/");
  form.SetCheckValue(CheckBox::Rekurse, 2);
  view.Click(Control::optEqual1);
  const SearchParams before = form.Params();
  const std::size_t icons = view.icons.size();
  view.Click(Control::Command1);
  EXPECT_EQ(form.PathText(kSourceBox), "/in/");
  EXPECT_EQ(form.CheckValue(CheckBox::Rekurse), 2);
  EXPECT_EQ(form.Params().Recurse, before.Recurse);
  EXPECT_EQ(form.Params().CompareMode, before.CompareMode);
  EXPECT_EQ(form.CurrentIconFrame(), 0);
  EXPECT_EQ(view.icons.size(), icons);
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(FormHandlers, TheRunReachesItsControls) {
  form.SetCounterLabel(0, "12");
  form.SetCounterLabel(1, "3");
  form.SetCounterLabel(2, "40960");
  EXPECT_EQ(view.State(Control::lblNumber0).text, "12");
  EXPECT_EQ(view.State(Control::lblNumber1).text, "3");
  EXPECT_EQ(view.State(Control::lblNumber2).text, "40960");
  form.SetGoCaption("working...");
  form.SetGoEnabled(false);
  EXPECT_EQ(view.State(Control::btnGo).text, "working...");
  EXPECT_FALSE(view.State(Control::btnGo).enabled);
  form.SetPathText(kTargetBox, "/out/");
  form.SetDateText(kYearBox, "2021");
  EXPECT_EQ(view.State(Control::txtPath1).text, "/out/");
  EXPECT_EQ(view.State(Control::txtDate2).text, "2021");
}

}  // namespace
}  // namespace qor
