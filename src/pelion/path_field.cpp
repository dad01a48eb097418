// PathField (see path_field.h).
#include "pelion/path_field.h"

#include <qdrawutil.h>
#include <QPainter>
#include <QStyle>

namespace vantor::pelion {

PathField::PathField(bool staticEdge, QWidget* parent) : QFrame(parent), m_staticEdge(staticEdge) {
  // Every field has a one-pixel border; a static edge adds a sunken line inside it.
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
  if (m_staticEdge) {
    setContentsMargins(1, 1, 1, 1);
  }
}

void PathField::setText(const QString& text) {
  if (text != m_text) {
    m_text = text;
    setToolTip(text);
    update();
  }
}

void PathField::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  if (m_staticEdge) {
    // Shadow on the top and left, light on the bottom and right: one pixel, sunken.
    qDrawShadePanel(&painter, frameRect().adjusted(1, 1, -1, -1), palette(), /*sunken=*/true, 1);
  }
  const QRect area = contentsRect().adjusted(2, 0, -2, 0);
  const QString shown = fontMetrics().elidedText(m_text, Qt::ElideRight, area.width());
  style()->drawItemText(&painter, area, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                        shown, QPalette::WindowText);
}

}  // namespace vantor::pelion
