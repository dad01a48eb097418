// PathField (see path_field.h).
#include "pelion/path_field.h"

#include <QPainter>
#include <QStyle>

namespace vantor::pelion {

PathField::PathField(bool staticEdge, QWidget* parent) : QFrame(parent) {
  setFrameStyle(staticEdge ? (QFrame::Panel | QFrame::Sunken) : (QFrame::Box | QFrame::Plain));
  setLineWidth(1);
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
  const QRect area = contentsRect().adjusted(2, 0, -2, 0);
  const QString shown = fontMetrics().elidedText(m_text, Qt::ElideRight, area.width());
  style()->drawItemText(&painter, area, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                        shown, QPalette::WindowText);
}

}  // namespace vantor::pelion
