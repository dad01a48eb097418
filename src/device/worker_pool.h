// The worker pool: one thread per port, each running one task (a job, a read) that reports
// through its own observer. The pool gives each worker a cancel token (or one token for them
// all), tells the caller which workers ended, and never lets a worker outlive it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/cancel.h"

namespace vantor::device {

class WorkerPool {
 public:
  // A worker's task: runs the port's flow, watching `cancel`, and tells whether it succeeded.
  using Task = std::function<bool(const serial::CancelToken& cancel)>;

  struct Ended {
    std::string port;
    bool ok = false;
    bool cancelled = false;  // the pool cancelled the worker before it ended
  };

  // With `shared`, every worker watches that token (one cancel for the whole run); without,
  // each worker has its own, which Cancel and CancelAll set.
  explicit WorkerPool(const serial::CancelToken* shared = nullptr);
  // Cancels the workers still running and waits for them.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Starts `task` for `port` on a thread of its own. False with `error` when no thread could be
  // started; the task then never runs.
  bool Start(const std::string& port, Task task, std::string& error);
  void Cancel(const std::string& port);
  void CancelAll();
  std::size_t running() const;

  // Waits until a worker has ended or `timeout` has passed (or Notify was called), then returns
  // the workers that ended since the last call, their threads joined, in the order they ended.
  std::vector<Ended> WaitForEnded(std::chrono::milliseconds timeout);
  // Wakes a WaitForEnded (for a caller that has more to do: a row to draw).
  void Notify();

 private:
  struct Slot {
    std::string port;
    std::unique_ptr<serial::CancelToken> own;
    const serial::CancelToken* cancel = nullptr;
    std::thread thread;
    bool ended = false;
    bool ok = false;
    bool cancelled = false;
  };

  const serial::CancelToken* m_shared;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::list<Slot> m_slots;  // stable addresses: a thread holds its slot
  std::vector<Slot*> m_ended;
  bool m_notified = false;
};

// A thread that leaves the process's cancelling signals (SIGINT, SIGTERM, SIGHUP; and SIGPIPE) to
// the thread that decides what the workers are told. Windows: a plain thread.
std::thread StartWorkerThread(std::function<void()> body);

}  // namespace vantor::device
