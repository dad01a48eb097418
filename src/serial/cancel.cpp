// CancelToken's sleep, over each system's wait on the waker.
#include "serial/cancel.h"

namespace vantor::serial {

std::int32_t CancelToken::SleepFor(std::chrono::milliseconds duration) const {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + duration;
  for (;;) {
    if (cancelled())
      return kErrorCancelled;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0)
      return 0;
    WaitWaker(left);
  }
}

}  // namespace vantor::serial
