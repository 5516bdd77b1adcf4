#include <gtest/gtest.h>

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <cmath>

#include "qt_app.h"

namespace qor {
namespace {

using test::App;
using test::Find;

enum class Kind { Button, TextBox, Label, Option, Check };

struct ControlRow {
  const char* name;
  Kind kind;
  const char* caption;
  int left, top, width, height;  // twips
};

// The window's controls in tab order, as the layout draws them.
const ControlRow kControls[] = {
    {"btnGo", Kind::Button, "GO", 4440, 2280, 1935, 735},
    {"txtDate(0)", Kind::TextBox, "", 840, 1150, 495, 285},
    {"Label1(0)", Kind::Label, "Day", 240, 1150, 495, 255},
    {"txtDate(1)", Kind::TextBox, "", 2160, 1150, 495, 285},
    {"Label1(1)", Kind::Label, "Month", 1560, 1150, 495, 255},
    {"txtDate(2)", Kind::TextBox, "", 3480, 1150, 495, 285},
    {"Label1(2)", Kind::Label, "Year", 2880, 1150, 495, 255},
    {"Label2(0)", Kind::Label, "Source Path", 120, 120, 975, 255},
    {"txtPath(0)", Kind::TextBox, "", 1200, 120, 5295, 285},
    {"Label2(1)", Kind::Label, "Target Path", 120, 480, 975, 255},
    {"txtPath(1)", Kind::TextBox, "", 1200, 480, 5295, 285},
    {"Label3(0)", Kind::Label, "Searched", 240, 2040, 855, 255},
    {"lblNumber(0)", Kind::Label, "0", 1320, 2040, 1215, 255},
    {"Label3(1)", Kind::Label, "Moved", 240, 2400, 855, 255},
    {"lblNumber(1)", Kind::Label, "0", 1320, 2400, 1215, 255},
    {"optEqual(0)", Kind::Option, "=", 5160, 1180, 675, 195},
    {"optEqual(1)", Kind::Option, "<", 5760, 1080, 435, 195},
    {"optEqual(2)", Kind::Option, ">", 5760, 1320, 435, 195},
    {"Label4", Kind::Label, "Date is :", 4200, 1150, 735, 255},
    {"lblNumber(2)", Kind::Label, "0", 1320, 2760, 1215, 255},
    {"Label3(2)", Kind::Label, "Size (bytes)", 240, 2760, 855, 255},
    {"Label5", Kind::Label, "KB", 2640, 2760, 255, 255},
    {"chkrekurse", Kind::Check, "Rekursive search", 3480, 1680, 1695, 195},
    {"Command1", Kind::Button, "Command1", 3360, 2400, 495, 495},
    {"chkAddDateTarget", Kind::Check, "Add Date to Target path", 1200, 840, 2055, 195},
    {"chkDelFolderMove", Kind::Check, "delete empty folder after move", 3480, 1920, 2535, 255},
};

int Pixels(int twips) {
  return static_cast<int>(std::lround(twips / 15.0));
}

QString Caption(QWidget& control) {
  if (auto* label = qobject_cast<QLabel*>(&control)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(&control)) return button->text();
  if (auto* box = qobject_cast<QLineEdit*>(&control)) return box->text();
  return QStringLiteral("<unknown kind>");
}

bool IsKind(QWidget& control, Kind kind) {
  switch (kind) {
    case Kind::Button:
      return qobject_cast<QPushButton*>(&control) != nullptr;
    case Kind::TextBox:
      return qobject_cast<QLineEdit*>(&control) != nullptr;
    case Kind::Label:
      return qobject_cast<QLabel*>(&control) != nullptr;
    case Kind::Option:
      return qobject_cast<QRadioButton*>(&control) != nullptr;
    case Kind::Check:
      return qobject_cast<QCheckBox*>(&control) != nullptr;
  }
  return false;
}

class WindowLayout : public test::QtWindow, public ::testing::Test {
 protected:
  QtFormView& window = view;
};

TEST_F(WindowLayout, EveryControlHasItsKindCaptionAndPlace) {
  for (const ControlRow& row : kControls) {
    SCOPED_TRACE(row.name);
    QWidget& control = Find(window, row.name);
    EXPECT_TRUE(IsKind(control, row.kind));
    EXPECT_EQ(Caption(control), QString::fromLatin1(row.caption));
    EXPECT_EQ(control.geometry(),
              QRect(Pixels(row.left), Pixels(row.top), Pixels(row.width), Pixels(row.height)));
    EXPECT_TRUE(control.isVisibleTo(&window));
  }
}

// The tool tips say what the captions cannot: how "<" and ">" compare, and
// what each date box takes.
TEST_F(WindowLayout, ComparisonsAndDateBoxesExplainThemselvesInToolTips) {
  const struct {
    const char* name;
    const char* says;  // nullptr: no tip
  } cases[] = {{"optEqual(1)", "each smaller"},
               {"optEqual(2)", "each greater"},
               {"txtDate(0)", "1 to 31"},
               {"txtDate(1)", "1 to 12"},
               {"txtDate(2)", "1990"},
               {"optEqual(0)", nullptr},
               {"btnGo", nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString tip = Find(window, c.name).toolTip();
    if (c.says == nullptr) {
      EXPECT_TRUE(tip.isEmpty()) << tip.toStdString();
    } else {
      EXPECT_TRUE(tip.contains(QString::fromLatin1(c.says))) << tip.toStdString();
    }
  }
}

TEST_F(WindowLayout, WindowHasFixedClientAreaAndCaption) {
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Sorvane"));
  EXPECT_EQ(window.size(), QSize(436, 209));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
}

TEST_F(WindowLayout, StartsWithEqualSelectedBoxesClearAndCountersAtZero) {
  EXPECT_TRUE(Find<QRadioButton>(window, "optEqual(0)").isChecked());
  EXPECT_FALSE(Find<QRadioButton>(window, "optEqual(1)").isChecked());
  EXPECT_FALSE(Find<QRadioButton>(window, "optEqual(2)").isChecked());
  for (const char* name : {"chkrekurse", "chkAddDateTarget", "chkDelFolderMove"}) {
    SCOPED_TRACE(name);
    auto& box = Find<QCheckBox>(window, name);
    EXPECT_TRUE(box.isTristate());
    EXPECT_EQ(box.checkState(), Qt::Unchecked);
  }
  EXPECT_EQ(form.Params().CompareMode, kCompareEqual);
  EXPECT_FALSE(form.Params().Recurse);
  EXPECT_FALSE(form.Params().DeleteEmpty);
  EXPECT_FALSE(form.IsRunActive());
  EXPECT_EQ(form.CurrentIconFrame(), 0);
  EXPECT_TRUE(window.IsTimerRunning());
  EXPECT_EQ(window.TimerInterval(), 800);
}

TEST_F(WindowLayout, TabVisitsControlsInOrderAndTheOptionGroupOnce) {
  form.ShowAfterStartUp();
  QApplication::setActiveWindow(&window);
  ASSERT_EQ(QApplication::focusWidget(), &Find(window, "btnGo"));
  const char* const expected[] = {"txtDate(0)",       "txtDate(1)", "txtDate(2)",
                                  "txtPath(0)",       "txtPath(1)", "optEqual(0)",
                                  "chkrekurse",       "Command1",   "chkAddDateTarget",
                                  "chkDelFolderMove", "btnGo"};
  for (const char* name : expected) {
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(QApplication::focusWidget(), &tab);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), QString::fromLatin1(name));
  }
}

TEST_F(WindowLayout, LabelsNeverTakeTheFocus) {
  for (const ControlRow& row : kControls) {
    if (row.kind != Kind::Label) continue;
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Find(window, row.name).focusPolicy(), Qt::NoFocus);
  }
}

// Room a caption needs beside what the style draws around it.
int CaptionNeed(QWidget& control, Kind kind) {
  const QFontMetrics metrics = control.fontMetrics();
  const int text = metrics.horizontalAdvance(Caption(control));
  QStyle* style = control.style();
  switch (kind) {
    case Kind::Check:
      return style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, &control) +
             style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, &control) + text;
    case Kind::Option:
      return style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, &control) +
             style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, &control) + text;
    case Kind::Button:
      return 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, &control) + text;
    case Kind::Label:
      return 2 * static_cast<QLabel&>(control).frameWidth() + text;
    case Kind::TextBox:
      break;
  }
  return 0;
}

TEST_F(WindowLayout, EveryCaptionShowsWholeInItsControl) {
  for (const ControlRow& row : kControls) {
    if (row.kind == Kind::TextBox || std::string_view(row.name) == "Command1") continue;
    SCOPED_TRACE(row.name);
    QWidget& control = Find(window, row.name);
    EXPECT_LE(CaptionNeed(control, row.kind), control.width());
    // An option's one sign is drawn centred, so its ink must fit.
    const QFontMetrics metrics = control.fontMetrics();
    EXPECT_LE(row.kind == Kind::Option ? metrics.tightBoundingRect(Caption(control)).height()
                                       : metrics.ascent() + metrics.descent(),
              control.height());
  }
}

TEST_F(WindowLayout, TheEqualSignReadsAsTwoStrokes) {
  // Ink at least 6 pixels wide and 4 high: two strokes with room between.
  const QRect ink = Find(window, "optEqual(0)").fontMetrics().tightBoundingRect("=");
  EXPECT_GE(ink.width(), 6);
  EXPECT_GE(ink.height(), 4);
}

TEST_F(WindowLayout, Command1CaptionFitsBrokenOverLines) {
  auto& button = Find<QPushButton>(window, "Command1");
  const int margin = button.style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, &button);
  const QRect room = button.rect().adjusted(margin / 2, margin / 2, -margin / 2, -margin / 2);
  const QRect need =
      button.fontMetrics().boundingRect(room, Qt::AlignCenter | Qt::TextWrapAnywhere, "Command1");
  EXPECT_TRUE(room.contains(need)) << need.width() << "x" << need.height();
}

TEST_F(WindowLayout, FontIsStillReadable) {
  // Shrinking until everything fits must not end in a font nobody can read.
  const QFontInfo font(window.font());
  EXPECT_GE(font.pixelSize(), 9);
  EXPECT_GE(QFontInfo(Find(window, "Command1").font()).pixelSize(), 7);
}

}  // namespace
}  // namespace qor
