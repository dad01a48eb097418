// POSIX: worker threads start with the cancelling signals blocked, so that SIGINT, SIGTERM and
// SIGHUP reach the thread that tells the workers what to do, and a write to a closed pipe fails
// instead of ending the process.
#include <pthread.h>
#include <signal.h>

#include "device/worker_pool.h"

namespace vantor::device {

std::thread StartWorkerThread(std::function<void()> body) {
  sigset_t signals;
  sigset_t previous;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &signals, &previous);
  std::thread thread;
  try {
    thread = std::thread(std::move(body));
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    throw;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return thread;
}

}  // namespace vantor::device
