// The dialog font and the dialogs' template layout: dialog units converted to pixels as Windows
// maps them.
#pragma once

#include <QFont>
#include <QRect>
#include <QWidget>

namespace vantor::ui {

// The dialog font ("MS Shell Dlg" 9 pt where installed, else the system's UI font at 9 pt).
QFont DialogFont();

// Converts a template rectangle in dialog units to pixels with `font`'s base units, as Windows
// maps dialog units (x and width by the average character width / 4, y and height by the
// character height / 8).
QRect DialogUnitsToPixels(const QFont& font, int x, int y, int width, int height);
void PlaceControl(QWidget* control, const QFont& font, int x, int y, int width, int height);

}  // namespace vantor::ui
