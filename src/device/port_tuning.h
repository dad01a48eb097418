// What the vantor tool does around opening a port: the low-latency request to a USB serial
// adapter, and the message for a port that does not open (with the system's reason and, on
// Linux, what to do about a permission refusal). One implementation per OS.
#pragma once

#include <cstdint>
#include <string>

#include "serial/serial_port.h"

namespace vantor::device {

// Linux: asks the driver for ASYNC_LOW_LATENCY (TIOCGSERIAL, set the flag, TIOCSSERIAL), which
// makes a USB serial adapter hand over received bytes at once instead of after its latency timer.
// Returns 0 when set, or the errno of the refusal; a port without the request (a pseudo-terminal
// answers ENOTTY or EINVAL) works as before. Elsewhere: does nothing and returns 0.
int RequestLowLatency(SerialPort& port);

// The text for a port that did not open: the programs' message, then the port's name and the
// system's reason, and for a permission refusal on Linux how to join the port's group.
std::string OpenFailureText(const std::string& name, std::int32_t error);

}  // namespace vantor::device
