// The --simulator start on POSIX: the simulated device behind a pseudo-terminal, listed as a port.
#include <cstdio>
#include <cstring>

#include "devsim/pty_transport.h"
#include "serial/port_enumeration.h"
#include "ui/simulator.h"

namespace vantor::ui {

namespace {

class PtySimulator final : public SimulatorHandle {
 public:
  explicit PtySimulator(std::unique_ptr<devsim::PtyDevice> device) : m_device(std::move(device)) {
    serial::AddVirtualPort(m_device->path());
  }
  ~PtySimulator() override { serial::RemoveVirtualPort(m_device->path()); }
  std::string portName() const override { return m_device->path(); }

 private:
  std::unique_ptr<devsim::PtyDevice> m_device;
};

}  // namespace

std::unique_ptr<SimulatorHandle> StartSimulator(bool firmwareState) {
  devsim::DeviceOptions options;
  options.state = firmwareState ? devsim::DeviceState::kFirmware : devsim::DeviceState::kBootloader;
  options.paced = true;
  // The real device's restart after "~dboot" takes about as long as the host waits for it.
  options.restartDelay = std::chrono::milliseconds(3000);
  int error = 0;
  auto device = devsim::PtyDevice::Start(std::move(options), &error);
  if (!device) {
    std::fprintf(stderr, "simulator: no pseudo-terminal (%s)\n", std::strerror(error));
    return nullptr;
  }
  return std::make_unique<PtySimulator>(std::move(device));
}

}  // namespace vantor::ui
