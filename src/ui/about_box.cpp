// AboutBox (see about_box.h).
#include "ui/about_box.h"

#include <QLabel>
#include <QPushButton>

#include "ui/dialog_units.h"

namespace vantor::ui {

namespace {

constexpr int kIconPixels = 32;
constexpr int kLineStep = 12;  // dialog units between the text lines

}  // namespace

AboutBox::AboutBox(const AboutContent& content, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  const QFont font = DialogFont();
  setFont(font);
  setWindowTitle(content.title);
  setFixedSize(DialogUnitsToPixels(font, 0, 0, 170, 62).size());

  // The icon's top left corner at the template's place, drawn at its own size.
  auto* icon = new QLabel(this);
  icon->setPixmap(content.icon.pixmap(kIconPixels, kIconPixels));
  const QRect iconRect = DialogUnitsToPixels(font, 14, 14, 0, 0);
  icon->setGeometry(iconRect.x(), iconRect.y(), kIconPixels, kIconPixels);

  int y = 14;
  for (const QString& line : content.lines) {
    PlaceControl(new QLabel(line, this), font, 42, y, 114, 8);
    y += kLineStep;
  }

  auto* ok = new QPushButton(QStringLiteral("확인"), this);
  ok->setDefault(true);
  PlaceControl(ok, font, 113, 41, 50, 14);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace vantor::ui
