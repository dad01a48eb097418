// The application icon on Windows: the PNGs that the build rendered from the program's SVG
// (cmake/icons.cmake), so that the program needs no SVG renderer at run time.
#include <QFile>

#include "ui/icon.h"

namespace vantor::ui {

QIcon ApplicationIcon(const QString& svgResource) {
  QString base = svgResource;
  if (base.endsWith(QStringLiteral(".svg")))
    base.chop(4);
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
    const QString png = base + QStringLiteral("-%1.png").arg(size);
    if (QFile::exists(png))
      icon.addFile(png, QSize(size, size));
  }
  return icon;
}

}  // namespace vantor::ui
