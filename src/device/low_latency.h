// The low-latency request over an injectable ioctl, so that tests can see the calls it makes.
// POSIX only.
#pragma once

#include <functional>

namespace vantor::device {

using IoctlFunction = std::function<int(int fd, unsigned long request, void* argument)>;

// TIOCGSERIAL, then TIOCSSERIAL with ASYNC_LOW_LATENCY added when it was not set. 0 or the errno
// of the refused call (ENOTTY where the system has no such request).
int RequestLowLatencyOn(int fd, const IoctlFunction& ioctlFn);

}  // namespace vantor::device
