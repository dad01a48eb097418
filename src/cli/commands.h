// What the commands of the vantor tool share: the streams and global flags of one run, and the
// job a command runs on its ports.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/images.h"
#include "cli/report/reporter.h"
#include "device/flows.h"
#include "device/job.h"
#include "protocol/segments.h"

namespace vantor::cli {

struct Env {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  int outColumns = 0;  // the terminal's width when `out` is one: tables fit it
  bool trace = false;
  bool quiet = false;
  bool json = false;
  // Cancelled by SIGINT/SIGTERM: every flow of the run watches it (null: nothing cancels).
  const serial::CancelToken* cancel = nullptr;

  // The reporter for one port: JSON objects tagged with `port`, or text lines.
  std::unique_ptr<Reporter> MakeReporter(const std::string& port) const;
};

// The command chosen on the line; returns the exit code.
using Action = std::function<int()>;

// Registers "sim" and "demo" (POSIX: the simulated device behind a pseudo-terminal; Windows:
// commands that say they are not available).
void AddSimCommands(CLI::App& app, Env& env, Action& action);

// The exit code of a finished download flow.
int ExitCodeOf(const device::DownloadOutcome& outcome);

// The job of loaded images: the segments (shared by every port), their flags word, and the
// bootloader entry of "download" (not of "write", whose `slots` need a running bootloader).
device::Job MakeJob(const production::LoadedImages& images, bool slots);

}  // namespace vantor::cli

namespace vantor::cli {
// Test builds only: whether "demo" paces its device at 115200 bit/s (it does unless a test
// says otherwise). Not a user option.
void SetDemoPacingForTesting(bool paced);
}  // namespace vantor::cli
