// What is locked while a run goes on, and where the focus goes.
#include <gtest/gtest.h>

#include "fake_view.h"
#include "window/frm_main.h"

namespace qor {
namespace {

const Control kTextBoxes[] = {Control::txtPath0, Control::txtPath1, Control::txtDate0,
                              Control::txtDate1, Control::txtDate2};
const Control kGreyedWhenLocked[] = {
    Control::btnGo,     Control::optEqual0,        Control::optEqual1,
    Control::optEqual2, Control::chkAddDateTarget, Control::chkDelFolderMove,
    Control::chkrekurse};
const Control kNeverTouched[] = {Control::Command1, Control::lblNumber0, Control::lblNumber1,
                                 Control::lblNumber2};

class FormLocking : public ::testing::Test {
 protected:
  test::FakeView view;
  frmMain form{view};
};

TEST_F(FormLocking, LockingGreysButtonsMakesBoxesReadOnlyAndUnlockingRestoresAll) {
  for (const bool enabled : {false, true, false, true}) {
    SCOPED_TRACE(enabled);
    form.SetInputsEnabled(enabled);
    for (Control control : kGreyedWhenLocked) {
      EXPECT_EQ(view.State(control).enabled, enabled) << static_cast<int>(control);
      EXPECT_FALSE(view.State(control).read_only);
    }
    // Locked boxes keep focus and selection: read-only, never greyed.
    for (Control box : kTextBoxes) {
      EXPECT_TRUE(view.State(box).enabled) << static_cast<int>(box);
      EXPECT_EQ(view.State(box).read_only, !enabled) << static_cast<int>(box);
    }
    for (Control control : kNeverTouched) {
      EXPECT_TRUE(view.State(control).enabled) << static_cast<int>(control);
    }
  }
}

TEST_F(FormLocking, LockedOptionsAndBoxesIgnoreClicks) {
  form.SetInputsEnabled(false);
  view.Click(Control::optEqual2);
  view.Click(Control::chkrekurse);
  EXPECT_EQ(form.Params().CompareMode, kCompareEqual);
  EXPECT_FALSE(form.Params().Recurse);
  EXPECT_EQ(view.State(Control::optEqual0).value, 1);
}

TEST_F(FormLocking, FocusAskedForBeforeShowingWaitsForTheWindow) {
  const struct {
    void (frmMain::*ask)(int);
    int index;
    Control box;
  } cases[] = {{&frmMain::FocusDateBox, kMonthBox, Control::txtDate1},
               {&frmMain::FocusPathBox, kTargetBox, Control::txtPath1},
               {&frmMain::FocusDateBox, kYearBox, Control::txtDate2}};
  for (const auto& focus : cases) {
    SCOPED_TRACE(static_cast<int>(focus.box));
    test::FakeView hidden;
    frmMain late(hidden);
    (late.*focus.ask)(focus.index);
    EXPECT_FALSE(hidden.focus.has_value()) << "not before the window is shown";
    late.ShowAfterStartUp();
    EXPECT_TRUE(hidden.shown);
    EXPECT_EQ(hidden.focus, focus.box);
    // Once shown, the focus moves at once.
    late.FocusPathBox(kSourceBox);
    EXPECT_EQ(hidden.focus, Control::txtPath0);
  }
}

TEST_F(FormLocking, ShownWithoutARequestTheFocusIsOnGo) {
  form.ShowAfterStartUp();
  EXPECT_TRUE(view.shown);
  EXPECT_EQ(view.focus, Control::btnGo);
}

}  // namespace
}  // namespace qor
