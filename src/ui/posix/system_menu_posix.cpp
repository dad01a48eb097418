// No system menu to extend here: the window manager owns the title bar's menu, so the dialogs
// offer the about item on their context menu instead.
#include "ui/system_menu.h"

namespace vantor::ui {

bool AppendSystemMenuItem(QWidget* /*window*/, unsigned /*command*/, const QString& /*text*/) {
  return false;
}

std::optional<unsigned> SystemCommand(const QByteArray& /*eventType*/, void* /*message*/) {
  return std::nullopt;
}

bool HasSystemMenu() {
  return false;
}

}  // namespace vantor::ui
