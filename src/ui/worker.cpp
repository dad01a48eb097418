// Running code on the UI thread and the dialogs' worker threads (see worker.h).
#include "ui/worker.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

namespace vantor::ui {

namespace {

QObject* UiContext(QObject* context) {
  return context != nullptr ? context : QCoreApplication::instance();
}

}  // namespace

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

}  // namespace vantor::ui
