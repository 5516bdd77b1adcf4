// Writes the program's file icon, the lit lamp, as PNG files for the desktop:
// make_lamp_icon <folder> <size>... gives <folder>/<size>x<size>/qor.png.
#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>

#include "window/qt/lamp_pictures.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <folder> <size>...\n", argv[0]);
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  for (int arg = 2; arg < argc; ++arg) {
    const int size = std::atoi(argv[arg]);
    if (size < 16) {
      std::fprintf(stderr, "bad icon size: %s\n", argv[arg]);
      return 2;
    }
    const QString sub = QStringLiteral("%1x%1").arg(size);
    const QString path = folder + QLatin1Char('/') + sub + QStringLiteral("/qor.png");
    if (!QDir(folder).mkpath(sub) || !qor::DrawLampImage(qor::Lamp::Lit, size).save(path, "PNG")) {
      std::fprintf(stderr, "cannot write %s\n", path.toLocal8Bit().constData());
      return 1;
    }
  }
  return 0;
}
