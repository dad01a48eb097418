// CancelToken: asks a running flow to stop. An atomic flag plus a waker that a blocking wait can
// watch (a pipe on POSIX, an event on Windows), so a cancelled wait ends at once instead of at its
// deadline. Cancel() is safe from any thread and, on POSIX, from a signal handler.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace vantor::serial {

// "Cancelled" as a system error code: Windows' ERROR_CANCELLED, used on every platform so the code
// a user reads is the same everywhere.
inline constexpr std::int32_t kErrorCancelled = 1223;

class CancelToken {
 public:
  CancelToken();
  ~CancelToken();
  CancelToken(const CancelToken&) = delete;
  CancelToken& operator=(const CancelToken&) = delete;

  // Sets the flag and wakes every wait on the token. Idempotent.
  void Cancel();
  bool cancelled() const { return m_cancelled.load(std::memory_order_acquire); }

  // Sleeps `duration`, or less when the token is cancelled meanwhile. 0 or kErrorCancelled.
  std::int32_t SleepFor(std::chrono::milliseconds duration) const;

  // POSIX: a descriptor that becomes readable once the token is cancelled (for poll).
  // Windows: the event's HANDLE, signalled once cancelled. Only for the serial backends.
  std::intptr_t waker() const { return m_waker; }

 private:
  // backend. Blocks at most `timeout` or until the waker is signalled.
  void WaitWaker(std::chrono::milliseconds timeout) const;

  std::atomic<bool> m_cancelled{false};
  std::intptr_t m_waker = -1;
  std::intptr_t m_wakerWrite = -1;  // POSIX: the pipe's write end
};

// A flow's wait without a port: `duration` unless `token` (may be null) is cancelled first.
inline std::int32_t SleepUnlessCancelled(const CancelToken* token,
                                         std::chrono::milliseconds duration) {
  if (token != nullptr)
    return token->SleepFor(duration);
  CancelToken never;
  return never.SleepFor(duration);
}

}  // namespace vantor::serial
