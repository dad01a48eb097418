// Windows: no low-latency request (the driver's settings stay as they are), and the open-failure
// text with the system's reason.
#include <windows.h>

#include "cli/flows.h"
#include "cli/port_tuning.h"

namespace vantor::cli {

int RequestLowLatency(SerialPort&) {
  return 0;
}

std::string OpenFailureText(const std::string& name, std::int32_t error) {
  std::string text =
      std::string(kNoDeviceText) + "\n" + "cannot open " + name + ": " + SystemErrorText(error);
  if (error == ERROR_ACCESS_DENIED)
    text += "\nanother program holds the port";
  return text;
}

}  // namespace vantor::cli
