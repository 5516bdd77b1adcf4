#include "window/qt/lamp_pictures.h"

#include <QPainter>
#include <cmath>

namespace qor {

namespace {

const QColor kRing(255, 255, 255);
const QColor kRim(64, 64, 64);
const QColor kRed(230, 0, 0);

void DrawRays(QPainter& painter, double centre, double inner, double outer, double width) {
  QPen pen(kRed, width, Qt::SolidLine, Qt::RoundCap);
  painter.setPen(pen);
  for (int ray = 0; ray < 8; ++ray) {
    const double angle = ray * M_PI / 4.0 + M_PI / 8.0;
    const double dx = std::cos(angle), dy = std::sin(angle);
    painter.drawLine(QPointF(centre + dx * inner, centre + dy * inner),
                     QPointF(centre + dx * outer, centre + dy * outer));
  }
}

}  // namespace

QImage DrawLampImage(Lamp lamp, int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(kLampMaskColour);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, size > 16);
    // Every lamp has the same outline; the lit one leaves room around it for
    // its rays.
    const double unit = size / 16.0;
    const double centre = size / 2.0;
    const double outer = 5.5 * unit;
    const double inner = 3.0 * unit;
    const double rim = std::max(1.0, unit);

    painter.setPen(QPen(kRim, rim));
    painter.setBrush(kRing);
    painter.drawEllipse(QPointF(centre, centre), outer, outer);
    painter.setPen(Qt::NoPen);
    switch (lamp) {
      case Lamp::Unlit:
        painter.setBrush(Qt::black);
        painter.drawEllipse(QPointF(centre, centre), inner, inner);
        break;
      case Lamp::Lit:
        painter.setBrush(kRed);
        painter.drawEllipse(QPointF(centre, centre), inner, inner);
        DrawRays(painter, centre, outer + 1.0 * unit, 7.8 * unit, std::max(1.0, unit));
        break;
      case Lamp::White:
        break;
    }
  }
  // Only the exact mask colour is see-through, as in a masked icon; blends
  // that antialiasing made near it stay opaque.
  QImage result = image;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      if (result.pixel(x, y) == (kLampMaskColour | 0xff000000u)) {
        result.setPixel(x, y, qRgba(0, 0, 0, 0));
      }
    }
  }
  return result;
}

LampImageList::LampImageList() {
  for (int index = 1; index <= 3; ++index) {
    const auto lamp = static_cast<Lamp>(index);
    pictures_[index - 1] = QPixmap::fromImage(DrawLampImage(lamp, kLampPictureSize));
    icons_[index - 1].addPixmap(pictures_[index - 1]);
    icons_[index - 1].addPixmap(QPixmap::fromImage(DrawLampImage(lamp, 32)));
  }
}

const QPixmap& LampImageList::Picture(int index) const {
  return pictures_[index - 1];
}

const QIcon& LampImageList::Icon(int index) const {
  return icons_[index - 1];
}

}  // namespace qor
