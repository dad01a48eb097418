// "sim" and "demo" on Windows: the simulated device needs a POSIX pseudo-terminal.
#include "cli/cli.h"
#include "cli/commands.h"

namespace vantor::cli {

void SetDemoPacingForTesting(bool) {}

void AddSimCommands(CLI::App& app, Env& env, Action& action) {
  for (const char* name : {"sim", "demo"}) {
    auto* command = app.add_subcommand(name, "Not available on Windows (needs a pseudo-terminal)");
    command->allow_extras();
    command->callback([&env, &action, name] {
      action = [&env, name] {
        env.err << "vantor " << name
                << ": not available on Windows (the simulated device needs a POSIX "
                   "pseudo-terminal)\n";
        return kExitUsage;
      };
    });
  }
}

}  // namespace vantor::cli
