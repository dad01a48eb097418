// Port descriptions on Windows: not read yet, so a port is known by its name alone and has no USB
// identity (a usb: name matches none of them).
#include "serial/port_identity.h"

namespace vantor {

PortInfo DescribePort(const std::string& path, const std::filesystem::path& /*sysRoot*/) {
  PortInfo info;
  info.path = path;
  info.name = path;
  return info;
}

std::filesystem::path SystemDescriptionRoot() {
  return {};
}

PortInfo DescribeSystemPort(const std::string& port) {
  return DescribePort(port, SystemDescriptionRoot());
}

}  // namespace vantor
