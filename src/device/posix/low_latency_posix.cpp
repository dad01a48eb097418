// Linux: the low-latency request for USB serial adapters, and the open-failure text with the
// permission hint (the port's group, usually dialout).
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "device/low_latency.h"
#include "device/port_tuning.h"
#include "device/texts.h"

#if defined(__linux__)
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace vantor::device {

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

std::string OpenFailureText(const std::string& name, std::int32_t error) {
  std::string text = CannotOpenText(name, SystemErrorText(error));
  if (error == EACCES || error == EPERM) {
    std::string groupName = "dialout";
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0) {
      if (const struct group* g = ::getgrgid(info.st_gid))
        groupName = g->gr_name;
    }
    text += "\n" + NotInGroupText(groupName);
  } else if (error == EBUSY) {
    text += std::string("\n") + kPortHeldText;
  }
  return text;
}

}  // namespace vantor::device
