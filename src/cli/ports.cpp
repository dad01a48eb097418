// Resolving -p names (usb: requested included) and --all-ports, and "ports -v" (see ports.h).
#include "cli/ports.h"

#include "serial/port_enumeration.h"
#include "serial/port_identity.h"

namespace vantor::cli {

bool ResolvePorts(const std::vector<std::string>& requested, bool allPorts,
                  std::vector<std::string>& ports, std::string& error) {
  bool needList = allPorts;
  for (const std::string& request : requested) {
    needList = needList || serial::IsUsbName(request);
    if (!serial::IsUsbName(request) && !serial::IsPortName(request)) {
      error = "'" + request + "' is no serial port name (COM1..COM256, or usb:VID:PID[:SERIAL])";
      return false;
    }
  }
  const std::vector<std::string> candidates =
      needList ? serial::EnumerateComPorts() : std::vector<std::string>{};
  return serial::ResolvePortNames(requested, allPorts, candidates, serial::SystemDescriptionRoot(),
                                  ports, error);
}

int ListPortsVerbose(Env& env) {
  for (const std::string& name : serial::EnumerateComPorts())
    env.out << serial::FormatPortInfo(serial::DescribeSystemPort(name)) << "\n";
  env.out.flush();
  return 0;
}

}  // namespace vantor::cli
