// "vantor station": its command line, the checks made before anything starts, and the station's
// front-end on a terminal (the live table, plain lines or the JSON events), with SIGINT/SIGTERM
// counted: the first stops taking new devices, the second cancels the running ones. The station
// itself is production::Station.
#pragma once

#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/production_options.h"
#include "device/job.h"

namespace vantor::cli {

struct StationOptions {
  std::string match;   // usb:VID:PID[:SERIAL] or a path glob (Windows: a port-name pattern)
  bool write = false;  // the write flow with slots instead of download with areas
  bool verify = false;
  bool noRedetect = false;
  int retries = 0;
  int count = 0;             // 0: until a signal
  bool skipPresent = false;  // ports present at start wait until they go and come back
  std::vector<std::string> images;
  production::ProductionArgs production;  // record, unit numbers, database
};

// Registers "station".
void AddStationCommand(CLI::App& app, Env& env, Action& action);

// Runs the station with `job` on the terminal of `env`. Returns the exit code.
int RunStation(Env& env, const StationOptions& options, const device::Job& job);

}  // namespace vantor::cli
