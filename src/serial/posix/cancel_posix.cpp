// CancelToken on POSIX: a non-blocking pipe whose read end turns readable on Cancel(). Cancel()
// uses only an atomic store and write(2), both allowed in a signal handler.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "serial/cancel.h"

namespace vantor::serial {

CancelToken::CancelToken() {
  int fds[2];
  if (::pipe(fds) == 0) {
    for (const int fd : fds) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    m_waker = fds[0];
    m_wakerWrite = fds[1];
  }
}

CancelToken::~CancelToken() {
  if (m_waker >= 0)
    ::close(static_cast<int>(m_waker));
  if (m_wakerWrite >= 0)
    ::close(static_cast<int>(m_wakerWrite));
}

void CancelToken::Cancel() {
  if (m_cancelled.exchange(true, std::memory_order_acq_rel))
    return;
  if (m_wakerWrite >= 0) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(static_cast<int>(m_wakerWrite), &byte, 1);
  }
}

void CancelToken::WaitWaker(std::chrono::milliseconds timeout) const {
  // Without a pipe (descriptors exhausted) poll on nothing still sleeps; the caller checks the
  // flag.
  pollfd pfd{static_cast<int>(m_waker), POLLIN, 0};
  ::poll(&pfd, m_waker >= 0 ? 1 : 0, static_cast<int>(timeout.count()));
}

}  // namespace vantor::serial
