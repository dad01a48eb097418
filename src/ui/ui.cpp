// Message boxes, running code on the UI thread, the dialog's worker threads, the wait cursor, the
// trace sink, line text conversion and the test scale of the programs' fixed waits.
#include "ui/ui.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <cmath>
#include <mutex>

#include "serial/debug_output.h"

namespace vantor::ui {

namespace {

std::mutex g_hookMutex;
MessageHook g_messageHook;

std::atomic<double> g_waitScale{1.0};

// Debug messages of this category are off unless QT_LOGGING_RULES enables them.
Q_LOGGING_CATEGORY(lcTrace, "vantor.trace", QtInfoMsg)

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
    if (hook) {
      hook(request);
      return;
    }
    QMessageBox box(
        request.icon == MessageIcon::kInformation ? QMessageBox::Information : QMessageBox::NoIcon,
        request.caption, request.text, QMessageBox::Ok, request.owner);
    box.exec();
  });
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
  if (m_abandoned)
    m_abandoned->store(true);
  WaitWhileProcessingEvents();
}

void Worker::Start(QObject* context, std::function<void()> work, std::function<void()> onFinished) {
  WaitWhileProcessingEvents();
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
  if (!m_thread.joinable())
    return;
  // The worker may be waiting for the UI thread (a message box, a blocking call): keep serving
  // events until its finish has run. WaitForMoreEvents sleeps; the finish event wakes it.
  while (m_running->load() && QCoreApplication::instance() != nullptr) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  m_thread.join();
}

// --- Cursor ----------------------------------------------------------------------------------

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
  g_waitScale.store(scale);
}

std::chrono::milliseconds ScaledWait(std::chrono::milliseconds wait) {
  return std::chrono::milliseconds(
      std::llround(static_cast<double>(wait.count()) * g_waitScale.load()));
}

}  // namespace vantor::ui
