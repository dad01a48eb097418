// The closing mark and the Enter key of the dialogs (see closing.h).
#include "ui/closing.h"

#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>
#include <QVariant>
#include <QWidget>

namespace vantor::ui {

namespace {

// The dynamic property that marks a window as closing.
constexpr const char* kClosingProperty = "vantorClosing";

}  // namespace

bool BeginClosing(QWidget* window) {
  if (window == nullptr || window->property(kClosingProperty).toBool())
    return false;
  window->setProperty(kClosingProperty, true);
  return true;
}

bool IsClosing(const QWidget* widget) {
  for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
    if (w->property(kClosingProperty).toBool())
      return true;
  }
  return false;
}

bool IsEnterKey(const QKeyEvent* event) {
  return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

bool HandleEnterKey(QDialog* dialog, QKeyEvent* event) {
  if (!IsEnterKey(event))
    return false;
  // The buttons are no default buttons, so Qt alone would do neither.
  if (auto* focused = qobject_cast<QPushButton*>(dialog->focusWidget())) {
    if (focused->isEnabled())
      focused->click();
  } else {
    dialog->accept();
  }
  return true;
}

}  // namespace vantor::ui
