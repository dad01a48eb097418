// Windows: the open-failure text with the system's reason.
#include <windows.h>

#include "device/port_tuning.h"
#include "device/texts.h"
#include "serial/serial_port.h"

namespace vantor::device {

std::string OpenFailureText(const std::string& name, std::int32_t error) {
  std::string text = CannotOpenText(name, serial::SystemErrorText(error));
  if (error == ERROR_ACCESS_DENIED)
    text += std::string("\n") + kPortHeldText;
  return text;
}

}  // namespace vantor::device
