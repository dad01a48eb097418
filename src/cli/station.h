// The production station: watches the ports a pattern matches, flashes every device that appears
// (each in its own worker process, at the same time as the others), retries what failed, keeps
// the production record and ends after a count of devices or on a signal.
#pragma once

#include <string>
#include <vector>

#include "cli/commands.h"

namespace vantor::cli {

struct StationOptions {
  std::string match;   // usb:VID:PID[:SERIAL] or a path glob
  bool write = false;  // the write flow with slots instead of download with areas
  bool verify = false;
  bool noRedetect = false;
  int retries = 0;
  std::string record;
  int count = 0;  // 0: until a signal
  std::vector<std::string> images;
  std::int64_t totalBytes = 0;  // of the images, for rates and estimates
};

// Registers "station".
void AddStationCommand(CLI::App& app, Env& env, Action& action);

// The ports `pattern` matches now: a usb: name against the ports present (every match), else a
// path glob against the file system (links count; a link whose target is gone does not).
std::vector<std::string> MatchStationPorts(const std::string& pattern);

// The command line of the worker that flashes `port`: download (or write) with --json and the
// station's choices, for this one port.
std::vector<std::string> StationWorkerArguments(const StationOptions& options,
                                                const std::string& port);

// The watch loop (POSIX); Windows says it is not available. Returns the exit code.
int RunStation(Env& env, const StationOptions& options);

}  // namespace vantor::cli
