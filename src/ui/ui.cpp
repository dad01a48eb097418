// Message boxes, running code on the UI thread, the dialog's worker threads and the closing mark,
// the wait cursor, the trace sink, line text conversion and the test scale of the programs' fixed
// waits.
#include "ui/ui.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QSpacerItem>
#include <QThread>

#include <mutex>

#include "device/flows.h"
#include "serial/debug_output.h"

namespace vantor::ui {

namespace {

std::mutex g_hookMutex;
MessageHook g_messageHook;

// Debug messages of this category are off unless QT_LOGGING_RULES enables them.
Q_LOGGING_CATEGORY(lcTrace, "vantor.trace", QtInfoMsg)

// The dynamic property that marks a window as closing.
constexpr const char* kClosingProperty = "vantorClosing";

// Room a title bar takes besides its caption: the window icon, up to three buttons and padding.
constexpr int kTitleBarRoom = 160;

QObject* UiContext(QObject* context) {
  return context != nullptr ? context : QCoreApplication::instance();
}

}  // namespace

// --- Message boxes ---------------------------------------------------------------------------

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

// --- Threads ---------------------------------------------------------------------------------

void RunOnUiThread(QObject* context, const std::function<void()>& fn) {
  QObject* target = UiContext(context);
  if (target == nullptr || QThread::currentThread() == target->thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(
      target, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

Worker::~Worker() {
  Abandon();
  WaitWhileProcessingEvents();
}

void Worker::Abandon() {
  if (m_abandoned)
    m_abandoned->store(true);
  m_cancel.Cancel();
}

void Worker::Start(QObject* context, std::function<void()> work, std::function<void()> onFinished) {
  WaitWhileProcessingEvents();
  if (m_cancel.cancelled())
    return;  // abandoned: the owner is closing
  m_running = std::make_shared<std::atomic<bool>>(true);
  m_abandoned = std::make_shared<std::atomic<bool>>(false);
  QPointer<QObject> target(UiContext(context));
  m_thread = std::thread([work = std::move(work), onFinished = std::move(onFinished), target,
                          running = m_running, abandoned = m_abandoned] {
    work();
    // The finish goes through the application object so that it is still delivered (and then
    // skipped) when the context is gone; `running` clears once it has run on the UI thread.
    auto finish = [onFinished, target, running, abandoned] {
      if (onFinished && target && !abandoned->load())
        onFinished();
      running->store(false);
      // A wait in WaitWhileProcessingEvents sees `running` only when processEvents returns. On
      // Windows that takes a message that arrives after the posted events were sent, and this
      // finish may have been one of them: without the wake-up, the wait would sleep for good.
      if (auto* dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->wakeUp();
    };
    if (QCoreApplication::instance() != nullptr) {
      QMetaObject::invokeMethod(QCoreApplication::instance(), finish, Qt::QueuedConnection);
    } else {
      running->store(false);
    }
  });
}

bool Worker::running() const {
  return m_running && m_running->load();
}

void Worker::WaitWhileProcessingEvents() {
  // The worker may be waiting for the UI thread (a message box, a blocking call): keep serving
  // events until its finish has run. WaitForMoreEvents sleeps; the finish wakes it (see Start).
  while (running() && QCoreApplication::instance() != nullptr) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  // Those events may have re-entered this function, which then joined the thread already.
  if (m_thread.joinable())
    m_thread.join();
}

// --- Closing ---------------------------------------------------------------------------------

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

// --- Cursor ----------------------------------------------------------------------------------

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

WaitCursor::WaitCursor() {
  RunOnUiThread(nullptr, [] { QApplication::setOverrideCursor(Qt::WaitCursor); });
}

WaitCursor::~WaitCursor() {
  RunOnUiThread(nullptr, [] { QApplication::restoreOverrideCursor(); });
}

// --- Trace, text -----------------------------------------------------------------------------

void InstallTraceSink() {
  SetDebugSink([](std::string_view text) {
    if (!lcTrace().isDebugEnabled())
      return;
    QString line = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    while (line.endsWith(u'\n'))
      line.chop(1);
    qCDebug(lcTrace).noquote() << line;
  });
}

QString FromLineText(const std::string& bytes) {
  return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToLineText(const QString& text) {
  return text.toLocal8Bit().toStdString();
}

// --- Waits -----------------------------------------------------------------------------------

void SetWaitScaleForTests(double scale) {
  device::SetWaitScaleForTesting(scale);  // one scale for the programs and the device flows
}

std::chrono::milliseconds ScaledWait(std::chrono::milliseconds wait) {
  return device::ScaledWait(wait);
}

}  // namespace vantor::ui
