// The simulated device behind a pseudo-terminal for the programs' --simulator start.
#pragma once

#include <memory>
#include <string>

namespace vantor::ui {

// Starts the simulated device behind a pseudo-terminal and registers its path as a port, for the
// programs' --simulator start. `firmwareState` selects the firmware state; pacing at 115200
// bit/s. Returns null (with a message on stderr) where no pseudo-terminal can be had.
class SimulatorHandle {
 public:
  virtual ~SimulatorHandle() = default;
  virtual std::string portName() const = 0;
};
std::unique_ptr<SimulatorHandle> StartSimulator(bool firmwareState);

}  // namespace vantor::ui
