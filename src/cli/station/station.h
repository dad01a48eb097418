// The production station: watches the ports a pattern matches, flashes every device that appears
// (each in a worker of the device layer's pool, at the same time as the others), retries what
// failed, keeps the production record and ends after a count of devices or on a signal.
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
  int count = 0;  // 0: until a signal
  std::vector<std::string> images;
  ProductionArgs production;  // record, unit numbers, database
};

// Registers "station".
void AddStationCommand(CLI::App& app, Env& env, Action& action);

// The ports `pattern` matches now: a usb: name against the ports present (every match), else a
// path glob against the file system (links count; a link whose target is gone does not); on
// Windows a pattern such as COM* against the port names.
std::vector<std::string> MatchStationPorts(const std::string& pattern);
// The pattern part of it, per system: a path glob, or a pattern of Windows port names.
std::vector<std::string> MatchPortPattern(const std::string& pattern);

// The watch loop: runs `job` on every port that appears. Returns the exit code.
int RunStation(Env& env, const StationOptions& options, const device::Job& job);

}  // namespace vantor::cli
