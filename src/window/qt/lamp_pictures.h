#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace qor {

// ImageList1: the three lamp pictures the window icon cycles through,
// numbered from 1 as the window counts its icon frames.
enum class Lamp { Unlit = 1, Lit = 2, White = 3 };

inline constexpr int kLampPictureSize = 16;

// Light grey stands for "transparent" in every picture.
inline constexpr QRgb kLampMaskColour = qRgb(192, 192, 192);

// One lamp drawn at `size` x `size` pixels on the mask colour, which is then
// made transparent.
QImage DrawLampImage(Lamp lamp, int size);

class LampImageList {
 public:
  LampImageList();

  // Picture `index` (1 to 3) at its 16 x 16 size.
  const QPixmap& Picture(int index) const;
  // The same picture as a window icon, in the 16 and 32 pixel sizes.
  const QIcon& Icon(int index) const;

 private:
  QPixmap pictures_[3];
  QIcon icons_[3];
};

}  // namespace qor
