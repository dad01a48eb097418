// The --simulator start on Windows: no pseudo-terminal exists there, so there is no simulator.
#include <cstdio>

#include "ui/simulator.h"

namespace vantor::ui {

std::unique_ptr<SimulatorHandle> StartSimulator(bool /*firmwareState*/) {
  std::fprintf(stderr, "simulator: not available on this system (no pseudo-terminals)\n");
  return nullptr;
}

}  // namespace vantor::ui
