// Which controls the window has, where they stand and in which font.
#include <QStyle>
#include <QStyleOptionButton>
#include <limits>

#include "window/qt/main_view.h"
#include "window/qt/twips.h"
#include "window/tool_tips.h"

namespace qor {

namespace {

// The client area the layout is drawn for, in pixels.
constexpr int kClientWidth = 436;
constexpr int kClientHeight = 209;

// The system's dialog font was about 11 pixels high; a smaller one is taken
// only where the captions would not fit in their controls.
constexpr int kLargestFontPixels = 11;
constexpr int kSmallestFontPixels = 7;
constexpr int kOptionFontExtraPixels = 4;

struct Place {
  QWidget* control;
  const char* name;
  const char* caption;           // nullptr for a box that starts empty
  int left, top, width, height;  // twips
};

// Whether the caption, measured in the control's font, fits the room the
// style leaves it beside the indicator or inside the bevel.
bool CaptionFits(const QWidget& control) {
  if (const auto* button = qobject_cast<const WrappingPushButton*>(&control)) {
    const QRect room = button->CaptionRect();
    const QRect need =
        button->fontMetrics().boundingRect(room, kWrappingCaptionFlags, button->text());
    return room.contains(need);
  }
  // Text boxes scroll their text and carry no caption.
  QString caption;
  int room = 0;
  if (const auto* label = qobject_cast<const QLabel*>(&control)) {
    caption = label->text();
    room = label->contentsRect().width() - 2 * label->margin();
  } else if (const auto* button = qobject_cast<const QAbstractButton*>(&control)) {
    caption = button->text();
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = caption;
    const QStyle::SubElement contents =
        qobject_cast<const QCheckBox*>(button)      ? QStyle::SE_CheckBoxContents
        : qobject_cast<const QRadioButton*>(button) ? QStyle::SE_RadioButtonContents
                                                    : QStyle::SE_PushButtonContents;
    room = control.style()->subElementRect(contents, &option, &control).width();
  } else {
    return true;
  }
  const QFontMetrics metrics = control.fontMetrics();
  // An option's caption is one sign, drawn centred: its ink must fit.
  const int height = qobject_cast<const QRadioButton*>(&control)
                         ? metrics.tightBoundingRect(caption).height()
                         : metrics.ascent() + metrics.descent();
  return metrics.horizontalAdvance(caption) <= room && height <= control.height();
}

// The signs =, < and > larger than the other captions: in an 11-pixel font
// the two strokes of "=" lie one pixel apart and read as "-".
QFont OptionFont(QFont font) {
  font.setPixelSize(font.pixelSize() + kOptionFontExtraPixels);
  return font;
}

}  // namespace

void QtFormView::BuildControls() {
  setWindowTitle(QStringLiteral("Sorvane"));
  setFixedSize(kClientWidth, kClientHeight);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  PlaceControls();
  for (QRadioButton& option : optEqual) option.setStyle(&compact_style_);
  for (QCheckBox* box :
       {static_cast<QCheckBox*>(&chkrekurse), static_cast<QCheckBox*>(&chkAddDateTarget),
        static_cast<QCheckBox*>(&chkDelFolderMove)}) {
    box->setStyle(&compact_style_);
  }
  for (int index = 0; index < 3; ++index) optEqualGroup.addButton(&optEqual[index], index);
  optEqualGroup.setExclusive(true);
  optEqual[0].setChecked(true);
  for (QLabel& counter : lblNumber) {
    counter.setFrameStyle(QFrame::Panel | QFrame::Sunken);
    counter.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  // Text boxes have no length limit of their own.
  for (QLineEdit* box : {&txtPath[0], &txtPath[1], &txtDate[0], &txtDate[1], &txtDate[2]}) {
    box->setMaxLength(std::numeric_limits<int>::max());
  }
  // "<" and ">" sit half over "=" to its right; they lie on top of it.
  optEqual[1].raise();
  optEqual[2].raise();
  SetTabOrder();
  FitFont();
}

void QtFormView::PlaceControls() {
  const Place places[] = {
      {&btnGo, "btnGo", "GO", 4440, 2280, 1935, 735},
      {&txtDate[0], "txtDate(0)", nullptr, 840, 1150, 495, 285},
      {&Label1[0], "Label1(0)", "Day", 240, 1150, 495, 255},
      {&txtDate[1], "txtDate(1)", nullptr, 2160, 1150, 495, 285},
      {&Label1[1], "Label1(1)", "Month", 1560, 1150, 495, 255},
      {&txtDate[2], "txtDate(2)", nullptr, 3480, 1150, 495, 285},
      {&Label1[2], "Label1(2)", "Year", 2880, 1150, 495, 255},
      {&Label2[0], "Label2(0)", "Source Path", 120, 120, 975, 255},
      {&txtPath[0], "txtPath(0)", nullptr, 1200, 120, 5295, 285},
      {&Label2[1], "Label2(1)", "Target Path", 120, 480, 975, 255},
      {&txtPath[1], "txtPath(1)", nullptr, 1200, 480, 5295, 285},
      {&Label3[0], "Label3(0)", "Searched", 240, 2040, 855, 255},
      {&lblNumber[0], "lblNumber(0)", "0", 1320, 2040, 1215, 255},
      {&Label3[1], "Label3(1)", "Moved", 240, 2400, 855, 255},
      {&lblNumber[1], "lblNumber(1)", "0", 1320, 2400, 1215, 255},
      {&optEqual[0], "optEqual(0)", "=", 5160, 1180, 675, 195},
      {&optEqual[1], "optEqual(1)", "<", 5760, 1080, 435, 195},
      {&optEqual[2], "optEqual(2)", ">", 5760, 1320, 435, 195},
      {&Label4, "Label4", "Date is :", 4200, 1150, 735, 255},
      {&lblNumber[2], "lblNumber(2)", "0", 1320, 2760, 1215, 255},
      {&Label3[2], "Label3(2)", "Size (bytes)", 240, 2760, 855, 255},
      {&Label5, "Label5", "KB", 2640, 2760, 255, 255},
      {&chkrekurse, "chkrekurse", "Rekursive search", 3480, 1680, 1695, 195},
      {&Command1, "Command1", "Command1", 3360, 2400, 495, 495},
      {&chkAddDateTarget, "chkAddDateTarget", "Add Date to Target path", 1200, 840, 2055, 195},
      {&chkDelFolderMove, "chkDelFolderMove", "delete empty folder after move", 3480, 1920, 2535,
       255},
  };
  for (const Place& place : places) {
    QWidget& control = *place.control;
    control.setParent(this);
    control.setObjectName(QString::fromLatin1(place.name));
    control.setGeometry(Twips(place.left), Twips(place.top), Twips(place.width),
                        Twips(place.height));
    if (place.caption == nullptr) continue;
    const QString caption = QString::fromLatin1(place.caption);
    if (auto* label = qobject_cast<QLabel*>(&control)) {
      label->setText(caption);
    } else if (auto* button = qobject_cast<QAbstractButton*>(&control)) {
      button->setText(caption);
    }
  }
  for (std::size_t index = 0; index < kControlCount; ++index) {
    const Control control = static_cast<Control>(index);
    // As rich text, which a tool tip wraps at words instead of running on
    // past the window's edge.
    if (const char* tip = ToolTipOf(control)) {
      Widget(control).setToolTip("<p>" + QString::fromUtf8(tip).toHtmlEscaped() + "</p>");
    }
  }
}

void QtFormView::SetTabOrder() {
  QWidget* const order[] = {&btnGo,           &txtDate[0], &txtDate[1],  &txtDate[2],
                            &txtPath[0],      &txtPath[1], &optEqual[0], &optEqual[1],
                            &optEqual[2],     &chkrekurse, &Command1,    &chkAddDateTarget,
                            &chkDelFolderMove};
  for (std::size_t index = 1; index < std::size(order); ++index) {
    setTabOrder(order[index - 1], order[index]);
  }
}

void QtFormView::FitFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                    QStringLiteral("Nimbus Sans"), QStringLiteral("Arial"),
                    QStringLiteral("Helvetica"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  // Captions are measured with the fonts this machine has, so the pixel size
  // is found by trying rather than fixed.
  const auto all_fit = [this](bool only_command1) {
    const QList<QWidget*> controls = findChildren<QWidget*>();
    for (QWidget* control : controls) {
      if ((control == &Command1) != only_command1) continue;
      if (!CaptionFits(*control)) return false;
    }
    return true;
  };
  for (int pixels = kLargestFontPixels; pixels >= kSmallestFontPixels; --pixels) {
    font.setPixelSize(pixels);
    setFont(font);
    for (QRadioButton& option : optEqual) option.setFont(OptionFont(font));
    if (all_fit(false)) break;
  }
  // The square Command1 cannot carry its caption on one line; it breaks it
  // over two, in a font small enough for that.
  QFont small = font;
  for (int pixels = font.pixelSize(); pixels >= kSmallestFontPixels; --pixels) {
    small.setPixelSize(pixels);
    Command1.setFont(small);
    if (all_fit(true)) break;
  }
}

}  // namespace qor
