// The application icon: the program's SVG rendered at the sizes the desktop asks for.
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include "ui/icon.h"

namespace vantor::ui {

QIcon ApplicationIcon(const QString& svgResource) {
  QSvgRenderer renderer(svgResource);
  QIcon icon;
  if (!renderer.isValid())
    return icon;
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace vantor::ui
