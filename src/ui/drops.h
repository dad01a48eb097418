// File drops onto a dialog: the control under the drop point.
#pragma once

#include <QPoint>
#include <QWidget>

namespace vantor::ui {

// The child of `dialog` under `point` (dialog coordinates), disabled children included; the
// nearest ancestor that is a direct control of the dialog is returned, or null.
QWidget* ChildAtDropPoint(QWidget* dialog, const QPoint& point);

}  // namespace vantor::ui
