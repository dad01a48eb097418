// The window's system menu (Windows): the about item added to it and its command read back from
// the window's native events.
#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>

#include <optional>

namespace vantor::ui {

// Windows: appends a separator and the item `text` with the system command `command` to
// `window`'s system menu; the command then arrives as WM_SYSCOMMAND in the window's native
// events (SystemCommand). Elsewhere there is no such menu to extend and nothing happens; the
// result tells whether the item was added.
bool AppendSystemMenuItem(QWidget* window, unsigned command, const QString& text);
// The command of a native event that is a system command (from QWidget::nativeEvent), else
// nullopt.
std::optional<unsigned> SystemCommand(const QByteArray& eventType, void* message);
// True where the windows have a system menu (Windows), so the about item belongs there and not
// on a context menu.
bool HasSystemMenu();

}  // namespace vantor::ui
