#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLineEdit>

#include "qt_app.h"

namespace qor {
namespace {

using test::App;
using test::Find;

const char* const kTextBoxes[] = {"txtPath(0)", "txtPath(1)", "txtDate(0)", "txtDate(1)",
                                  "txtDate(2)"};
const char* const kGreyedWhenLocked[] = {"btnGo",       "optEqual(0)",      "optEqual(1)",
                                         "optEqual(2)", "chkAddDateTarget", "chkDelFolderMove",
                                         "chkrekurse"};
const char* const kNeverTouched[] = {"Command1", "Label1(0)", "Label4", "lblNumber(0)"};

class WindowLocking : public test::WithApp, public ::testing::Test {
 protected:
  WindowLocking() {
    App();
    window.ShowAfterStartUp();
    QApplication::setActiveWindow(&window);
  }
  frmMain window;
};

void Type(QWidget& box, Qt::Key key, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(&box, &press);
}

TEST_F(WindowLocking, LockedBoxesKeepFocusAndSelectionButRefuseTyping) {
  window.SetPathText(kSourceBox, "/in/");
  window.SetDateText(kDayBox, "15");
  window.SetInputsEnabled(false);
  for (const char* name : kTextBoxes) {
    SCOPED_TRACE(name);
    auto& box = Find<QLineEdit>(window, name);
    EXPECT_TRUE(box.isEnabled());
    EXPECT_TRUE(box.isReadOnly());
    const QString before = box.text();
    box.setFocus();
    EXPECT_TRUE(box.hasFocus());
    box.selectAll();
    EXPECT_EQ(box.selectedText(), before);
    Type(box, Qt::Key_X, QStringLiteral("x"));
    Type(box, Qt::Key_Backspace, QString());
    EXPECT_EQ(box.text(), before);
  }
}

TEST_F(WindowLocking, LockingGreysButtonsAndBoxesAndUnlockingRestoresAll) {
  window.SetInputsEnabled(false);
  for (const char* name : kGreyedWhenLocked) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(Find(window, name).isEnabled());
  }
  for (const char* name : kNeverTouched) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(Find(window, name).isEnabled());
  }
  window.SetInputsEnabled(true);
  for (const char* name : kGreyedWhenLocked) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(Find(window, name).isEnabled());
  }
  for (const char* name : kTextBoxes) {
    SCOPED_TRACE(name);
    auto& box = Find<QLineEdit>(window, name);
    EXPECT_FALSE(box.isReadOnly());
    box.setFocus();
    box.clear();
    Type(box, Qt::Key_7, QStringLiteral("7"));
    EXPECT_EQ(box.text(), QStringLiteral("7"));
  }
}

TEST_F(WindowLocking, FocusAskedForBeforeShowingWaitsForTheWindow) {
  frmMain hidden;
  hidden.FocusDateBox(kMonthBox);
  hidden.ShowAfterStartUp();
  QApplication::setActiveWindow(&hidden);
  EXPECT_EQ(QApplication::focusWidget(), &Find(hidden, "txtDate(1)"));
  hidden.FocusPathBox(kTargetBox);
  EXPECT_EQ(QApplication::focusWidget(), &Find(hidden, "txtPath(1)"));
}

}  // namespace
}  // namespace qor
