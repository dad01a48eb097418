// Windows: no low-latency request (the driver's settings stay as they are).
#include <cerrno>

#include "serial/low_latency.h"

namespace vantor::serial {

int RequestLowLatency(SerialPort&) {
  return 0;
}

int RequestLowLatencyOn(int, const IoctlFunction&) {
  return ENOTTY;
}

}  // namespace vantor::serial
