// The ports a station watches (see port_match.h); the pattern part is per system.
#include "serial/port_match.h"

#include "serial/port_enumeration.h"
#include "serial/port_identity.h"

namespace vantor::serial {

std::vector<std::string> MatchStationPorts(const std::string& pattern) {
  if (!IsUsbName(pattern))
    return MatchPortPattern(pattern);
  std::vector<PortInfo> described;
  for (const std::string& name : EnumerateComPorts())
    described.push_back(DescribeSystemPort(name));
  std::vector<const PortInfo*> found;
  std::string error;
  std::vector<std::string> ports;
  if (MatchUsbPorts(pattern, described, found, error)) {
    for (const PortInfo* p : found)
      ports.push_back(p->path);
  }
  return ports;
}

}  // namespace vantor::serial
