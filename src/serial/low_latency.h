// The low-latency request to a USB serial adapter, and the same over an injectable ioctl so that
// tests can see the calls it makes. One implementation per OS.
#pragma once

#include <functional>

#include "serial/serial_port.h"

namespace vantor::serial {

// Linux: asks the driver for ASYNC_LOW_LATENCY (TIOCGSERIAL, set the flag, TIOCSSERIAL), which
// makes a USB serial adapter hand over received bytes at once instead of after its latency timer.
// Returns 0 when set, or the errno of the refusal; a port without the request (a pseudo-terminal
// answers ENOTTY or EINVAL) works as before. Elsewhere: does nothing and returns 0.
int RequestLowLatency(SerialPort& port);

using IoctlFunction = std::function<int(int fd, unsigned long request, void* argument)>;

// POSIX: TIOCGSERIAL, then TIOCSSERIAL with ASYNC_LOW_LATENCY added when it was not set. 0 or the
// errno of the refused call (ENOTTY where the system has no such request).
int RequestLowLatencyOn(int fd, const IoctlFunction& ioctlFn);

}  // namespace vantor::serial
