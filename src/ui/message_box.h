// Message boxes owned by a dialog: shown on the UI thread (also when asked from a worker), never
// once the owner has begun closing, and interceptable by tests.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

namespace vantor::ui {

enum class MessageIcon { kNone, kInformation };

struct MessageRequest {
  QWidget* owner = nullptr;
  QString caption;  // the application's name, or empty for none
  QString text;
  MessageIcon icon = MessageIcon::kNone;
};

// Shows a modal OK box owned by `owner` and returns when it is closed. From a worker thread it is
// shown on the UI thread and the worker waits for it. Once `owner` (or a window above it) has
// started closing, nothing is shown and it returns at once.
void ShowMessage(const MessageRequest& request);

// The box ShowMessage shows: at least as wide as its caption needs in a title bar, so that the
// window manager never cuts the caption.
std::unique_ptr<QMessageBox> CreateMessageBox(const MessageRequest& request);
int MessageBoxMinimumWidth(const QString& caption);

// Tests: every box goes to `hook` instead of the screen (called on the UI thread). Empty restores.
using MessageHook = std::function<void(const MessageRequest&)>;
void SetMessageHook(MessageHook hook);

}  // namespace vantor::ui
