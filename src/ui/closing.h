// How a dialog ends: the closing mark (after it, no box the window owns is shown) and the dialog's
// own handling of the Enter key.
#pragma once

class QDialog;
class QKeyEvent;
class QWidget;

namespace vantor::ui {

// Marks `window` as closing: message boxes it owns are no longer shown. Returns false when it was
// marked already (a close is under way or done), so a second close does nothing.
bool BeginClosing(QWidget* window);
// True once `widget` or a window above it has begun closing.
bool IsClosing(const QWidget* widget);

// Enter or Return (the main keyboard's or the keypad's).
bool IsEnterKey(const QKeyEvent* event);
// A dialog's own handling of Enter: it presses the push button that has the focus (nothing when
// that button is disabled) and ends the dialog (accept) when no push button has it. True when
// `event` was Enter and so handled.
bool HandleEnterKey(QDialog* dialog, QKeyEvent* event);

}  // namespace vantor::ui
