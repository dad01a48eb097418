// The production report for people or scripts (the sums come from production/), and the
// commands that read records: "report" (a file or the database) and "record import".
#pragma once

#include <CLI/CLI.hpp>

#include <ostream>

#include "cli/commands.h"
#include "production/production_report.h"

namespace vantor::cli {

// A table for people, or one JSON object.
void PrintProductionReport(std::ostream& out, const production::ProductionReport& report,
                           bool json);

// Registers "report" (a file or the database) and "record import".
void AddReportCommand(CLI::App& app, Env& env, Action& action);

}  // namespace vantor::cli
