// POSIX: the low-latency request for USB serial adapters (Linux; elsewhere ENOTTY).
#include <cerrno>

#include "serial/low_latency.h"

#if defined(__linux__)
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace vantor::serial {

namespace {

int SystemIoctl(int fd, unsigned long request, void* argument) {
#if defined(__linux__)
  return ::ioctl(fd, request, argument);
#else
  (void)fd;
  (void)request;
  (void)argument;
  errno = ENOTTY;
  return -1;
#endif
}

}  // namespace

int RequestLowLatencyOn(int fd, const IoctlFunction& ioctlFn) {
#if defined(__linux__)
  serial_struct info{};
  if (ioctlFn(fd, TIOCGSERIAL, &info) != 0)
    return errno != 0 ? errno : ENOTTY;
  if ((info.flags & ASYNC_LOW_LATENCY) != 0)
    return 0;
  info.flags |= ASYNC_LOW_LATENCY;
  if (ioctlFn(fd, TIOCSSERIAL, &info) != 0)
    return errno != 0 ? errno : EINVAL;
  return 0;
#else
  (void)fd;
  (void)ioctlFn;
  return ENOTTY;
#endif
}

int RequestLowLatency(SerialPort& port) {
  if (!port.IsOpen())
    return EBADF;
  return RequestLowLatencyOn(static_cast<int>(port.handle), SystemIoctl);
}

}  // namespace vantor::serial
