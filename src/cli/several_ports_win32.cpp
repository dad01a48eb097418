// Windows: several devices at once are not available (the worker processes are POSIX's).
#include "cli/cli.h"
#include "cli/several_ports.h"

namespace vantor::cli {

int RunOnSeveralPorts(Env& env, const std::vector<std::string>&, const std::vector<std::string>&) {
  env.err << "vantor: several ports at once are not available on Windows; run one vantor per "
             "port\n";
  return kExitUsage;
}

}  // namespace vantor::cli
