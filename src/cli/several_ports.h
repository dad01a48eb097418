// Several devices at once: one job, a worker per port in the device layer's pool, one progress
// line per port on a terminal (or a line when a port finishes, or the workers' JSON events) and a
// summary table at the end.
#pragma once

#include <string>
#include <vector>

#include "cli/commands.h"
#include "device/job.h"

namespace vantor::cli {

// Runs `job` on every port at once; 0 when every device succeeded, else 1. The run's cancel
// token reaches every worker.
int RunOnSeveralPorts(Env& env, const std::vector<std::string>& ports, const device::Job& job);

}  // namespace vantor::cli
