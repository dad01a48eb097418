// What download, write and station keep of each device and where its number comes from: the
// production record (--record), unit numbers (--serial...), the database (--database, with
// --spool for what it cannot take). The options are registered here; production_setup.h checks
// and prepares them before anything is sent.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

#include "cli/commands.h"
#include "cli/unit_options.h"
#include "device/job.h"
#include "production/production_setup.h"

namespace vantor::cli {

// `oneDevice`: the record's help speaks of the device (download, write) or of each (station).
void AddProductionOptions(CLI::App* command, production::ProductionArgs& args, bool oneDevice);

// production::ApplyProductionOptions, its warning written to `env.err`.
bool ApplyProductionOptions(Env& env, const production::ProductionArgs& args,
                            const production::LoadedImages& images, bool verify, device::Job& job,
                            std::string& error);

// "--database URL" is left out of this build: a line for the help texts, else empty.
std::string DatabaseLeftOutNote();

}  // namespace vantor::cli
