// PtyDevice: runs a simulated Device on its own thread behind a real pseudo-terminal, so that
// SerialPort::Open opens the slave path like any serial port. The host may close and reopen the
// port any number of times. On Windows the device answers on one end of a null-modem pair of COM
// ports and path() names the other end (pty_transport_win32.cpp).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "devsim/device.h"

namespace vantor::devsim {

class PtyDevice {
 public:
  // Starts the device thread; nullptr (with errno-style `error`) when no pseudo-terminal opens.
  static std::unique_ptr<PtyDevice> Start(DeviceOptions options, int* error = nullptr);
  ~PtyDevice();  // stops the thread and closes the pseudo-terminal

  PtyDevice(const PtyDevice&) = delete;
  PtyDevice& operator=(const PtyDevice&) = delete;

  // The slave path, e.g. "/dev/pts/3": the port name to open.
  const std::string& path() const;

  // Runs `fn` on the device while the device thread is held (read memory, events, change options).
  void With(const std::function<void(Device&)>& fn);

  // Closes the master side: the host's port sees the device disappear. The device stops.
  void Disconnect();

 private:
  PtyDevice();
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace vantor::devsim
