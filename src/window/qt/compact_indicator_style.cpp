#include "window/qt/compact_indicator_style.h"

#include <algorithm>

namespace qor {

namespace {

constexpr int kLargestIndicator = 12;

}  // namespace

int CompactIndicatorStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                       const QWidget* widget) const {
  const int value = QProxyStyle::pixelMetric(metric, option, widget);
  switch (metric) {
    case PM_IndicatorWidth:
    case PM_IndicatorHeight:
    case PM_ExclusiveIndicatorWidth:
    case PM_ExclusiveIndicatorHeight:
      return std::min(value, kLargestIndicator);
    default:
      return value;
  }
}

}  // namespace qor
