// Several devices at once and finding the right port: resolving -p names (usb:VID:PID[:SERIAL]
// included) and --all-ports, the verbose port list, and the run that starts one worker per port
// and gathers their JSON events into progress lines and a summary table.
#pragma once

#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/port_info.h"

namespace vantor::cli {

// The port names for the -p requested (each a name, or usb:VID:PID[:SERIAL] matched against what
// the system knows of its ports) followed, with `allPorts`, by every enumerated port; each name
// once. False with `error` when a usb: request matches no port or several.
bool ResolvePorts(const std::vector<std::string>& requested, bool allPorts,
                  std::vector<std::string>& ports, std::string& error);

// What the system tells of `port` (USB ids, serial number, ...), read from its sysfs.
PortInfo DescribeSystemPort(const std::string& port);

// "ports -v": each port with driver, USB ids, serial number, description and latency timer.
int ListPortsVerbose(Env& env);

// Runs `commandLine` (the whole line as given) once per port, in parallel, one worker each; 0
// when every worker succeeded, else 1.
int RunOnSeveralPorts(Env& env, const std::vector<std::string>& commandLine,
                      const std::vector<std::string>& ports);

}  // namespace vantor::cli
