// The about item in the window's system menu (the menu of the title bar's icon and Alt+Space),
// and the system commands that reach the window's native message loop.
#include <windows.h>

#include "ui/system_menu.h"

namespace vantor::ui {

bool AppendSystemMenuItem(QWidget* window, unsigned command, const QString& text) {
  const auto hwnd = reinterpret_cast<HWND>(window->winId());
  HMENU menu = ::GetSystemMenu(hwnd, FALSE);
  if (menu == nullptr || text.isEmpty())
    return false;
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING, command, reinterpret_cast<const wchar_t*>(text.utf16()));
  return true;
}

std::optional<unsigned> SystemCommand(const QByteArray& eventType, void* message) {
  if (eventType != "windows_generic_MSG" || message == nullptr)
    return std::nullopt;
  const MSG* msg = static_cast<const MSG*>(message);
  if (msg->message != WM_SYSCOMMAND)
    return std::nullopt;
  return static_cast<unsigned>(msg->wParam);
}

bool HasSystemMenu() {
  return true;
}

}  // namespace vantor::ui
