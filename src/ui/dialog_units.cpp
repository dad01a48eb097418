// The dialog font and dialog units to pixels as Windows maps them (see dialog_units.h).
#include "ui/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>

namespace vantor::ui {

namespace {

// Windows' MulDiv: a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

QFont DialogFont() {
  if (QFontDatabase::families().contains(QStringLiteral("MS Shell Dlg"))) {
    return QFont(QStringLiteral("MS Shell Dlg"), 9);
  }
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(9);
  return font;
}

QRect DialogUnitsToPixels(const QFont& font, int x, int y, int width, int height) {
  const QFontMetrics metrics(font);
  // The average width of the 52 letters, rounded as Windows' GdiGetCharDimensions does.
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  const int baseX = (letters / 26 + 1) / 2;
  const int baseY = metrics.height();
  return QRect(MulDiv(x, baseX, 4), MulDiv(y, baseY, 8), MulDiv(width, baseX, 4),
               MulDiv(height, baseY, 8));
}

void PlaceControl(QWidget* control, const QFont& font, int x, int y, int width, int height) {
  control->setGeometry(DialogUnitsToPixels(font, x, y, width, height));
}

}  // namespace vantor::ui
