#pragma once

#include <QProxyStyle>

namespace qor {

// The application's style with check and option indicators no taller than
// the window's 13-pixel option rows, so that no circle or box is cut off.
class CompactIndicatorStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr) const override;
};

}  // namespace qor
