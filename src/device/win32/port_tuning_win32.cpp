// Windows: no low-latency request (the driver's settings stay as they are), and the open-failure
// text with the system's reason.
#include <windows.h>

#include "device/port_tuning.h"
#include "device/texts.h"

namespace vantor::device {

int RequestLowLatency(SerialPort&) {
  return 0;
}

std::string OpenFailureText(const std::string& name, std::int32_t error) {
  std::string text = CannotOpenText(name, SystemErrorText(error));
  if (error == ERROR_ACCESS_DENIED)
    text += std::string("\n") + kPortHeldText;
  return text;
}

}  // namespace vantor::device
