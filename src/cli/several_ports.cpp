// Resolving -p names and --all-ports.
#include "cli/several_ports.h"

#include <algorithm>

#include "serial/port_enumeration.h"

namespace vantor::cli {

bool ResolvePorts(const std::vector<std::string>& specs, bool allPorts,
                  std::vector<std::string>& ports, std::string& error) {
  ports.clear();
  auto add = [&ports](const std::string& name) {
    if (std::find(ports.begin(), ports.end(), name) == ports.end())
      ports.push_back(name);
  };
  for (const std::string& spec : specs)
    add(spec);
  if (allPorts) {
    for (const std::string& name : EnumerateComPorts())
      add(name);
  }
  error.clear();
  return true;
}

int ListPortsVerbose(Env& env) {
  for (const std::string& name : EnumerateComPorts())
    env.out << name << "\n";
  return 0;
}

int RunOnSeveralPorts(Env& env, const std::vector<std::string>&, const std::vector<std::string>&) {
  env.err << "vantor: several ports are not supported yet\n";
  return 2;
}

}  // namespace vantor::cli
