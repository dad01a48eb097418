// "vantor station" on Windows: not available yet (the watch loop uses POSIX worker processes,
// signals and path globs); the command says so instead of doing part of the job.
#include "cli/cli.h"
#include "cli/station.h"

namespace vantor::cli {

std::vector<std::string> MatchStationPorts(const std::string&) {
  return {};
}

int RunStation(Env& env, const StationOptions&) {
  env.err << "vantor station: not available on Windows\n";
  return kExitUsage;
}

}  // namespace vantor::cli
