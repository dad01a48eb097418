// The commands that read production records: "report" (the sums of a record file or of the
// database's table) and "record import" (record lines loaded into the database once).
#pragma once

#include <CLI/CLI.hpp>

#include "cli/commands.h"

namespace vantor::cli {

// Registers "report" (a file or the database) and "record import".
void AddReportCommand(CLI::App& app, Env& env, Action& action);

}  // namespace vantor::cli
