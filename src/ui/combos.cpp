// The template's drop-down list heights and the port combo's whole names.
#include "ui/combos.h"

#include <QAbstractItemView>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include <algorithm>

#include "ui/dialog_units.h"

namespace vantor::ui {

void DropDownList::Place(const QFont& font, int x, int y, int width, int height) {
  const QRect r = DialogUnitsToPixels(font, x, y, width, height);
  const int closed = sizeHint().height();
  setGeometry(r.x(), r.y(), r.width(), closed);
  m_listHeight = std::max(0, r.height() - closed);
  // Styles that open the list as a menu around the current item ignore the visible item count;
  // this one property makes every style drop a list of that height below the control.
  setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
}

void DropDownList::showPopup() {
  if (m_listHeight > 0) {
    // Whole items only, as the template's list shows them; the view's frame takes its share.
    const int frame = 2 * view()->frameWidth();
    const int row = count() > 0 ? view()->sizeHintForRow(0) : view()->fontMetrics().height();
    setMaxVisibleItems(std::max(1, (m_listHeight - frame) / std::max(1, row)));
  }
  QComboBox::showPopup();
}

void PortCombo::showPopup() {
  emit aboutToDropDown();
  // The list is at least as wide as its longest name plus a scroll bar: names are never cut.
  int widest = 0;
  const QFontMetrics metrics = view()->fontMetrics();
  for (int i = 0; i < count(); ++i)
    widest = std::max(widest, metrics.horizontalAdvance(itemText(i)));
  const int margins = 2 * view()->frameWidth() +
                      4 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin) +
                      view()->verticalScrollBar()->sizeHint().width() + metrics.averageCharWidth();
  view()->setMinimumWidth(widest + margins);
  DropDownList::showPopup();
}

void PortCombo::AddSorted(const QString& name) {
  int at = 0;
  while (at < count() && QString::compare(itemText(at), name, Qt::CaseInsensitive) <= 0)
    ++at;
  insertItem(at, name);
}

QString PortCombo::shownText() const {
  QStyleOptionComboBox option;
  initStyleOption(&option);
  const QRect text =
      style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
  return fontMetrics().elidedText(option.currentText, Qt::ElideLeft, text.width());
}

void PortCombo::paintEvent(QPaintEvent* /*event*/) {
  // As QComboBox paints itself, with the name elided in the middle instead of at its end.
  QStylePainter painter(this);
  painter.setPen(palette().color(QPalette::Text));
  QStyleOptionComboBox option;
  initStyleOption(&option);
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  if (currentIndex() >= 0) {
    option.currentText = shownText();
  } else if (!placeholderText().isEmpty()) {
    option.palette.setBrush(QPalette::ButtonText, option.palette.placeholderText());
    option.currentText = placeholderText();
  }
  painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

}  // namespace vantor::ui
