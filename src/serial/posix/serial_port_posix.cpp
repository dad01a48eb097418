// POSIX backend of SerialPort: termios raw 115200 8N1, exclusive, non-waiting reads, poll waits.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <system_error>

#include "serial/serial_port.h"

namespace vantor::serial {

namespace {

thread_local std::int32_t t_lastOpenError = 0;

// Applies the fixed line settings and reads them back; 0 or the errno of the failing step.
int ConfigureLine(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0)
    return errno;
  cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, B115200) != 0 || cfsetospeed(&tio, B115200) != 0)
    return errno;
  if (tcsetattr(fd, TCSANOW, &tio) != 0)
    return errno;
  termios check{};
  if (tcgetattr(fd, &check) != 0)
    return errno;
  if (cfgetospeed(&check) != B115200 || (check.c_cflag & CSIZE) != CS8 ||
      (check.c_cflag & (PARENB | CSTOPB | CRTSCTS)) != 0) {
    return EINVAL;  // the driver did not take the settings
  }
  return 0;
}

// Raises DTR and RTS. Devices without modem lines (pseudo-terminals) answer ENOTTY or EINVAL:
// not a failure.
int RaiseModemLines(int fd) {
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (ioctl(fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
    return errno;
  return 0;
}

}  // namespace

PortHandle SerialPort::Open(std::string_view name) {
  portName = std::string(name);
  handle = kInvalidHandle;
  t_lastOpenError = 0;
  const int fd = ::open(portName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    t_lastOpenError = errno;
    return kInvalidHandle;
  }
  // TIOCEXCL keeps other processes out (root passes it); the lock keeps out other opens that
  // honour it, root's included.
  int error = 0;
  if (ioctl(fd, TIOCEXCL) != 0) {
    error = errno;
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno == EWOULDBLOCK ? EBUSY : errno;
  } else if ((error = ConfigureLine(fd)) == 0 && (error = RaiseModemLines(fd)) == 0) {
    // Reads stay non-waiting through VMIN=0 VTIME=0; writes may block like the system's.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
      error = errno;
  }
  if (error != 0) {
    ::close(fd);
    t_lastOpenError = error;
    return kInvalidHandle;
  }
  tcflush(fd, TCIOFLUSH);  // nothing left over from an earlier user of the line
  handle = fd;
  return handle;
}

std::int32_t SerialPort::Read(std::uint8_t* buffer, std::uint32_t& count) {
  const ssize_t got = ::read(static_cast<int>(handle), buffer, count);
  if (got < 0) {
    count = 0;
    if (errno == EAGAIN || errno == EINTR)
      return 0;
    return errno;
  }
  count = static_cast<std::uint32_t>(got);
  if (trace)
    TraceBytes("Rx : ", buffer, count);
  return 0;
}

std::int32_t SerialPort::Write(const std::uint8_t* buffer, std::uint32_t& count) {
  const ssize_t put = ::write(static_cast<int>(handle), buffer, count);
  if (put < 0) {
    count = 0;
    if (errno == EINTR || errno == EAGAIN)
      return 0;  // the caller repeats the rest
    return errno;
  }
  count = static_cast<std::uint32_t>(put);
  if (trace)
    TraceBytes("Tx : ", buffer, count);
  return 0;
}

namespace {

// Polls the port for `events` and the cancel token's waker until one is ready or the deadline.
std::int32_t WaitFor(const SerialPort& port, short events, std::chrono::milliseconds timeout) {
  if (port.handle == kInvalidHandle)
    return EBADF;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (port.cancel != nullptr && port.cancel->cancelled())
      return kErrorCancelled;
    // Rounded up so that a wait never ends early and turns into a busy retry.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd pfds[2] = {{static_cast<int>(port.handle), events, 0}, {-1, POLLIN, 0}};
    nfds_t count = 1;
    if (port.cancel != nullptr && port.cancel->waker() >= 0) {
      pfds[1].fd = static_cast<int>(port.cancel->waker());
      count = 2;
    }
    const int ms = left.count() <= 0 ? 0 : static_cast<int>(left.count());
    const int ready = ::poll(pfds, count, ms);
    if (ready < 0) {
      if (errno == EINTR)
        continue;
      return errno;
    }
    if (port.cancel != nullptr && port.cancel->cancelled())
      return kErrorCancelled;
    if (ready == 0 || pfds[0].revents == 0)
      return 0;
    if (pfds[0].revents & POLLNVAL)
      return EBADF;
    if (pfds[0].revents & (POLLHUP | POLLERR))
      return EIO;  // the other end is gone
    return 0;
  }
}

}  // namespace

std::int32_t SerialPort::WaitReadable(std::chrono::milliseconds timeout) {
  return WaitFor(*this, POLLIN, timeout);
}

std::int32_t SerialPort::WaitWritable(std::chrono::milliseconds timeout) {
  return WaitFor(*this, POLLOUT, timeout);
}

std::int32_t SerialPort::SleepUntil(std::chrono::steady_clock::time_point until) const {
  for (;;) {
    if (cancel != nullptr && cancel->cancelled())
      return kErrorCancelled;
    const auto left = until - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero())
      return 0;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec timeout{static_cast<time_t>(ns / 1000000000),
                           static_cast<long>(ns % 1000000000)};
    // The cancel token's waker ends the sleep at once; without a token ppoll only sleeps.
    pollfd pfd{-1, POLLIN, 0};
    if (cancel != nullptr && cancel->waker() >= 0)
      pfd.fd = static_cast<int>(cancel->waker());
    if (::ppoll(&pfd, pfd.fd >= 0 ? 1 : 0, &timeout, nullptr) < 0 && errno != EINTR)
      return 0;
  }
}

void SerialPort::Close() {
  if (handle != kInvalidHandle) {
    ::close(static_cast<int>(handle));
    handle = kInvalidHandle;
  }
}

std::int32_t SerialPort::LastOpenError() {
  return t_lastOpenError;
}

std::string SystemErrorText(std::int32_t code) {
  if (code == kErrorTimeout)
    return "no answer within the time-out";
  return std::error_code(code, std::generic_category()).message();
}

}  // namespace vantor::serial
