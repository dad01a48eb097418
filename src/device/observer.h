// FlowObserver: what a device flow tells while it runs (steps, progress, log lines, what the
// device answered, the result). The command-line tool's reporters and the programs' dialogs adapt
// it to their output; every method has an empty default so an observer takes what it shows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/text_commands.h"

namespace vantor::device {

// What answered a detection.
struct DetectedState {
  std::optional<std::uint32_t> bootVersion;    // the bootloader's version word
  std::optional<std::string> firmwareVersion;  // the text after "~Rv0000", closing CR LF removed
  bool answered() const { return bootVersion.has_value() || firmwareVersion.has_value(); }
};

// The status line: the boot version, the firmware's text, or "no device".
std::string DescribeState(const DetectedState& state);

// Steps of the download flow that carry no event of their own in the tools' output, so that a
// live view can tell where a device is.
enum class FlowPhase {
  kRestartWait,  // the wait after the download before the device is detected again
  kRedetecting,  // the detection after that wait
};

class FlowObserver {
 public:
  virtual ~FlowObserver() = default;
  virtual void PortOpened(const std::string& /*port*/) {}
  // `purpose` tells which detection: "detect" (the first) or "redetect" (after the download).
  virtual void Detected(const DetectedState& /*state*/, std::string_view /*purpose*/) {}
  virtual void BootRequested(protocol::BootModeOutcome /*outcome*/) {}
  virtual void BootloaderEntered(std::uint32_t /*version*/) {}
  // `index` counts from 0 among `count` segments (or regions of a read).
  virtual void SegmentStarted(std::size_t /*index*/, std::size_t /*count*/,
                              std::uint32_t /*address*/, std::int32_t /*length*/,
                              std::string_view /*what*/) {}
  virtual void Progress(std::int32_t /*percent*/) {}
  virtual void SegmentDone(std::size_t /*index*/, std::uint32_t /*address*/,
                           std::int32_t /*result*/) {}
  virtual void Phase(FlowPhase /*phase*/) {}
  // A line of the programs' log (for example the download's completion line).
  virtual void Message(std::string_view /*text*/) {}
  virtual void Saved(std::string_view /*region*/, const std::string& /*path*/,
                     std::size_t /*bytes*/) {}
  virtual void Verify(std::int32_t /*result*/, std::optional<std::uint32_t> /*firstDifference*/,
                      double /*seconds*/) {}
  // Attempt `number` of at most `total` begins (with retries; a failed attempt's Result came
  // before).
  virtual void Attempt(int /*number*/, int /*total*/) {}
  // The device's unit number was taken (before anything that carries it is sent).
  virtual void UnitNumber(std::uint64_t /*number*/) {}
  // The end of a flow: 0 and a summary, or the failure's code and the programs' message.
  virtual void Result(std::int32_t /*code*/, std::string_view /*message*/) {}
};

}  // namespace vantor::device
