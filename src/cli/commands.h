// What the commands of the vantor tool share: the streams and global flags of one run, and the
// flows a command runs on one port (also used by the demo and by the several-device workers).
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/flows.h"
#include "cli/reporter.h"
#include "protocol/segments.h"

namespace vantor::cli {

struct Env {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  std::string executable;
  bool trace = false;
  bool quiet = false;
  bool json = false;

  // The reporter for one port: JSON objects tagged with `port`, or text lines.
  std::unique_ptr<Reporter> MakeReporter(const std::string& port) const;
};

// The command chosen on the line; returns the exit code.
using Action = std::function<int()>;

// Registers "sim" and "demo" (POSIX: the simulated device behind a pseudo-terminal; Windows:
// commands that say they are not available).
void AddSimCommands(CLI::App& app, Env& env, Action& action);

struct DownloadJob {
  std::string port;
  const SegmentList* segments = nullptr;
  std::uint32_t flags = 0;
  bool enterBootloader = true;  // false: the bootloader must already answer ("write")
  bool redetect = true;         // detect again after kRedetectWait
  bool verify = false;          // read every segment back and compare
};

struct DownloadOutcome {
  int exitCode = 0;
  std::int32_t code = 0;  // 0 or the failure's code
  DetectResult first;     // what answered on the port
  bool bootEntered = false;
  std::optional<std::uint32_t> bootVersion;  // the bootloader that took the download
  double downloadSeconds = 0;
  std::int64_t bytes = 0;
  std::optional<DetectResult> after;  // the detection after the download
  std::optional<double> verifySeconds;
  bool verified = false;
  std::string message;  // what the Result said
};

// Opens the port, detects, enters the bootloader when asked and needed, downloads, then detects
// again and verifies as asked. Every step and the result go to `reporter`.
DownloadOutcome RunDownloadFlow(const DownloadJob& job, bool trace, Reporter& reporter);

// Compares `expected` with device memory read back at `address`: 0 and no difference when equal.
struct VerifyResult {
  std::int32_t result = 0;
  std::optional<std::uint32_t> firstDifference;
  double seconds = 0;
};
VerifyResult VerifySegments(SerialPort& port, const SegmentList& segments, Reporter& reporter);

}  // namespace vantor::cli

namespace vantor::cli {
// Test builds only: whether "demo" paces its device at 115200 bit/s (it does unless a test
// says otherwise). Not a user option.
void SetDemoPacingForTesting(bool paced);
}  // namespace vantor::cli
