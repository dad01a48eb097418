// The worker pool (see worker_pool.h).
#include "device/worker_pool.h"

#include <algorithm>
#include <system_error>

namespace vantor::device {

WorkerPool::WorkerPool(const serial::CancelToken* shared) : m_shared(shared) {}

WorkerPool::~WorkerPool() {
  CancelAll();
  for (Slot& slot : m_slots) {
    if (slot.thread.joinable())
      slot.thread.join();
  }
}

bool WorkerPool::Start(const std::string& port, Task task, std::string& error) {
  std::unique_lock lock(m_mutex);
  Slot& slot = m_slots.emplace_back();
  slot.port = port;
  if (m_shared == nullptr)
    slot.own = std::make_unique<serial::CancelToken>();
  slot.cancel = m_shared != nullptr ? m_shared : slot.own.get();
  try {
    slot.thread = StartWorkerThread([this, &slot, task = std::move(task)] {
      bool ok = false;
      try {
        ok = task(*slot.cancel);
      } catch (...) {
        ok = false;  // the caller's row says the worker ended without a result
      }
      std::lock_guard ended(m_mutex);
      slot.ended = true;
      slot.ok = ok;
      m_ended.push_back(&slot);
      m_changed.notify_all();
    });
  } catch (const std::system_error& e) {
    error = std::string("cannot start a worker: ") + e.what();
    m_slots.pop_back();
    return false;
  }
  return true;
}

void WorkerPool::Cancel(const std::string& port) {
  std::lock_guard lock(m_mutex);
  for (Slot& slot : m_slots) {
    if (slot.port == port && !slot.ended) {
      slot.cancelled = true;
      if (slot.own)
        slot.own->Cancel();
    }
  }
}

void WorkerPool::CancelAll() {
  std::lock_guard lock(m_mutex);
  for (Slot& slot : m_slots) {
    if (slot.ended)
      continue;
    slot.cancelled = true;
    if (slot.own)
      slot.own->Cancel();
  }
}

std::size_t WorkerPool::running() const {
  std::lock_guard lock(m_mutex);
  return static_cast<std::size_t>(
      std::count_if(m_slots.begin(), m_slots.end(), [](const Slot& s) { return !s.ended; }));
}

std::vector<WorkerPool::Ended> WorkerPool::WaitForEnded(std::chrono::milliseconds timeout) {
  std::vector<Slot*> ended;
  {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, timeout, [this] { return !m_ended.empty() || m_notified; });
    m_notified = false;
    ended.swap(m_ended);
  }
  std::vector<Ended> result;
  for (Slot* slot : ended) {
    slot->thread.join();
    result.push_back({slot->port, slot->ok, slot->cancelled});
  }
  // Ended workers leave the pool; their ports may get a new worker later.
  std::lock_guard lock(m_mutex);
  m_slots.remove_if([](const Slot& s) { return s.ended && !s.thread.joinable(); });
  return result;
}

void WorkerPool::Notify() {
  std::lock_guard lock(m_mutex);
  m_notified = true;
  m_changed.notify_all();
}

}  // namespace vantor::device
