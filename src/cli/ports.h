// Finding the right port: resolving -p names (usb:VID:PID[:SERIAL] included) and --all-ports,
// and the verbose port list.
#pragma once

#include <string>
#include <vector>

#include "cli/commands.h"
#include "serial/port_identity.h"

namespace vantor::cli {

// The port names for the -p requested (each a name, or usb:VID:PID[:SERIAL] matched against what
// the system knows of its ports) followed, with `allPorts`, by every enumerated port; each name
// once. False with `error` when a usb: request matches no port or several.
bool ResolvePorts(const std::vector<std::string>& requested, bool allPorts,
                  std::vector<std::string>& ports, std::string& error);

// "ports -v": each port with driver, USB ids, serial number, description and latency timer.
int ListPortsVerbose(Env& env);

}  // namespace vantor::cli
