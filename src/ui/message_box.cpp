// Message boxes owned by a dialog (see message_box.h).
#include "ui/message_box.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QSpacerItem>

#include <mutex>

#include "ui/closing.h"
#include "ui/worker.h"

namespace vantor::ui {

namespace {

std::mutex g_hookMutex;
MessageHook g_messageHook;

// Room a title bar takes besides its caption: the window icon, up to three buttons and padding.
constexpr int kTitleBarRoom = 160;

}  // namespace

void SetMessageHook(MessageHook hook) {
  std::lock_guard lock(g_hookMutex);
  g_messageHook = std::move(hook);
}

void ShowMessage(const MessageRequest& request) {
  RunOnUiThread(request.owner, [&request] {
    MessageHook hook;
    {
      std::lock_guard lock(g_hookMutex);
      hook = g_messageHook;
    }
    // After the user asked to close, no box may appear (and hold the process) any more.
    if (IsClosing(request.owner))
      return;
    if (hook) {
      hook(request);
      return;
    }
    CreateMessageBox(request)->exec();
  });
}

int MessageBoxMinimumWidth(const QString& caption) {
  // Title bars commonly draw the caption bold, a little larger than the text font.
  QFont title = QApplication::font("QMdiSubWindowTitleBar");
  title.setBold(true);
  title.setPointSizeF(title.pointSizeF() * 1.25);
  return QFontMetrics(title).horizontalAdvance(caption) + kTitleBarRoom;
}

std::unique_ptr<QMessageBox> CreateMessageBox(const MessageRequest& request) {
  auto box = std::make_unique<QMessageBox>(
      request.icon == MessageIcon::kInformation ? QMessageBox::Information : QMessageBox::NoIcon,
      request.caption, request.text, QMessageBox::Ok, request.owner);
  // QMessageBox sizes itself from its layout's minimum width: a spacer across the grid sets it.
  if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
    grid->addItem(new QSpacerItem(MessageBoxMinimumWidth(request.caption), 0, QSizePolicy::Minimum,
                                  QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  return box;
}

}  // namespace vantor::ui
