#include "window/qt/wrapping_push_button.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace qor {

QRect WrappingPushButton::CaptionRect() const {
  // Keep the caption clear of the bevel by half the style's button margin.
  const int inset = style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, this) / 2;
  return rect().adjusted(inset, inset, -inset, -inset);
}

void WrappingPushButton::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  const QString caption = option.text;
  option.text.clear();
  painter.drawControl(QStyle::CE_PushButton, option);
  painter.drawItemText(CaptionRect(), kWrappingCaptionFlags, option.palette, isEnabled(), caption,
                       QPalette::ButtonText);
}

}  // namespace qor
