// Running code on the UI thread, and the cancellable worker thread a dialog owns.
#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "serial/cancel.h"

namespace vantor::ui {

// Runs `fn` on `context`'s thread (the UI thread) and waits for it; runs it at once when already
// there.
void RunOnUiThread(QObject* context, const std::function<void()>& fn);

// A worker thread owned by its dialog: one at a time, joined when the next starts or when the
// owner is destroyed. `onFinished` runs on the UI thread after `work` returns.
//
// The worker carries the cancel token of its work: every port the work uses points at it
// (`port->cancel = worker.cancelToken()`), so that Abandon, when the owner closes, ends each of
// the port's waits at once with kErrorCancelled. An abandoned worker runs no finish and starts
// nothing more; destroying a worker abandons it.
class Worker {
 public:
  Worker() = default;
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  void Start(QObject* context, std::function<void()> work, std::function<void()> onFinished = {});
  bool running() const;
  const serial::CancelToken* cancelToken() const { return &m_cancel; }
  bool cancelled() const { return m_cancel.cancelled(); }
  // Cancels the running work and drops its finish. Idempotent, UI thread.
  void Abandon();
  // Waits for the thread while keeping the UI thread's events going (tests, closing). Safe when
  // re-entered from those events (a second Escape while a close waits).
  void WaitWhileProcessingEvents();

 private:
  serial::CancelToken m_cancel;
  std::thread m_thread;
  std::shared_ptr<std::atomic<bool>> m_running;
  // Set when the owner goes away: a finish still queued then no longer runs `onFinished`.
  std::shared_ptr<std::atomic<bool>> m_abandoned;
};

}  // namespace vantor::ui
