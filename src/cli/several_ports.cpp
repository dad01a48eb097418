// Resolving -p names (usb: requested included) and --all-ports, and "ports -v".
#include "cli/several_ports.h"

#include "cli/port_info.h"
#include "serial/port_enumeration.h"

namespace vantor::cli {

namespace {
const std::filesystem::path kSysRoot = "/sys";
}  // namespace

bool ResolvePorts(const std::vector<std::string>& requested, bool allPorts,
                  std::vector<std::string>& ports, std::string& error) {
  bool needList = allPorts;
  for (const std::string& request : requested)
    needList = needList || IsUsbName(request);
  const std::vector<std::string> candidates =
      needList ? EnumerateComPorts() : std::vector<std::string>{};
  return ResolvePortNames(requested, allPorts, candidates, kSysRoot, ports, error);
}

PortInfo DescribeSystemPort(const std::string& port) {
  return DescribePort(port, kSysRoot);
}

int ListPortsVerbose(Env& env) {
  for (const std::string& name : EnumerateComPorts())
    env.out << FormatPortInfo(DescribePort(name, kSysRoot)) << "\n";
  env.out.flush();
  return 0;
}

}  // namespace vantor::cli
