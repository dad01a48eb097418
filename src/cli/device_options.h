// The simulated device's behaviour as command-line flags (for "sim"): state, versions, frame
// size, pacing, the answer to "~dboot", restart delay, refusals, stalls, read-back faults,
// memory corruption, floods and a noisy line.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "devsim/device.h"

namespace vantor::cli {

struct DeviceFlags {
  std::string state = "boot";
  std::string bootVersion;
  std::string firmwareVersion;
  std::uint32_t frameWords = 0;
  bool paced = true;
  std::uint32_t packetBytes = 0;
  std::string dboot = "ack";
  int restartDelayMs = -1;
  std::string refuseFrame;
  std::string stallFrame;
  std::string readBack = "valid";
  int readBackFaultFrom = 0;
  std::string corrupt;
  bool noBootAnswer = false;
  bool noFirmwareAnswer = false;
  int junkAnswers = 0;
  std::string capability = "ok";
  std::string memoryFile;
  bool floodVersion = false;
  bool floodWaitPhase = false;
  int floodIntervalMs = -1;
  std::uint64_t chaosSeed = 1;
  std::string chaos;  // KIND=RATE,... for both directions
  std::string chaosToDevice;
  std::string chaosToHost;
  int chaosDelayMs = -1;
  int chaosCutMs = -1;
};

void AddDeviceFlags(CLI::App& command, DeviceFlags& flags);
// The options the flags describe; false with `error` for a value that does not parse.
bool MakeDeviceOptions(const DeviceFlags& flags, devsim::DeviceOptions& options,
                       std::string& error);

}  // namespace vantor::cli
