#include "window/wrapping_push_button.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace qor {

QRect WrappingPushButton::CaptionRect() const {
  QStyleOptionButton option;
  initStyleOption(&option);
  return style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
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
