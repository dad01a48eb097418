// The parts of SerialPort shared by every backend: the creation steps, the wait for the rest of a
// reply and the byte trace.
#include "serial/serial_port.h"

#include <algorithm>
#include <cstdio>

#include "serial/debug_output.h"

namespace vantor::serial {

std::unique_ptr<SerialPort> CreatePort(std::string_view name, bool trace) {
  auto port = std::make_unique<SerialPort>();
  port->inQueueSize = kInQueueSize;
  port->outQueueSize = kOutQueueSize;
  port->trace = trace;
  port->handle = port->Open(name);
  port->reopenPort = std::string(name);
  return port;
}

std::int32_t SerialPort::WaitForRest(std::uint32_t missing, bool rested,
                                     std::chrono::steady_clock::time_point deadline,
                                     std::chrono::microseconds margin) {
  const auto now = std::chrono::steady_clock::now();
  const auto rest = WireTime(missing);
  if (rested || rest <= margin) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    return WaitReadable(std::max(left, std::chrono::milliseconds(0)));
  }
  // All but the margin of the missing bytes' time on the wire; sleeping less would only wake the
  // reader for a part.
  return SleepUntil(std::min(deadline, now + rest - margin));
}

void TraceBytes(std::string_view prefix, const std::uint8_t* bytes, std::size_t count) {
  constexpr std::size_t kPerLine = 16;
  for (std::size_t start = 0; start < count; start += kPerLine) {
    std::string line(prefix);
    const std::size_t end = start + kPerLine < count ? start + kPerLine : count;
    for (std::size_t i = start; i < end; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02x ", bytes[i]);
      line += hex;
    }
    line += '\n';
    DebugOutput(line);
  }
}

}  // namespace vantor::serial
