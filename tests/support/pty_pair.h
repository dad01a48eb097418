// Test fixtures over real pseudo-terminals: PtyPair lets a test play the device byte by byte,
// PtyPortTest with the host's port open on it; SimulatedDevice starts the simulated device on a pty
// and opens a SerialPort on it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devsim/pty_transport.h"
#include "protocol/frames.h"
#include "serial/serial_port.h"

namespace vantor::testing {

class PtyPair {
 public:
  PtyPair();  // fails the current test (ADD_FAILURE) when no pty opens
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  // The slave path, the name a SerialPort opens.
  const std::string& path() const { return m_path; }
  int masterFd() const { return m_master; }

  // Device -> host.
  void Write(const std::vector<std::uint8_t>& bytes);
  void Write(const std::string& text);
  // Host -> device: what arrives within `timeout` (stops early once `atLeast` bytes are in).
  std::vector<std::uint8_t> Read(std::size_t atLeast,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(2));
  // Closes the device side: the host's port sees the device disappear.
  void CloseMaster();

 private:
  int m_master = -1;
  int m_slaveKeeper = -1;  // keeps the pty alive while the host closes and reopens its side
  std::string m_path;
};

// A simulated device on a pty with an open port on it.
struct SimulatedDevice {
  std::unique_ptr<devsim::PtyDevice> device;
  std::unique_ptr<serial::SerialPort> port;
  protocol::BootLink link;

  // Runs `fn` on the device under its lock.
  template <typename Fn>
  auto With(Fn fn) {
    using R = decltype(fn(std::declval<devsim::Device&>()));
    if constexpr (std::is_void_v<R>) {
      device->With([&](devsim::Device& d) { fn(d); });
    } else {
      R result{};
      device->With([&](devsim::Device& d) { result = fn(d); });
      return result;
    }
  }
};

// The fixture of tests that play the device byte by byte: the pty, the host's port open on it
// (no trace) and a link over that port.
class PtyPortTest : public ::testing::Test {
 protected:
  void SetUp() override;

  PtyPair pty;
  std::unique_ptr<serial::SerialPort> port;
  protocol::BootLink link;
};

// Starts the device and opens the port (fails the test when either fails).
SimulatedDevice StartSimulatedDevice(devsim::DeviceOptions options = {}, bool trace = false);

// Four bytes little-endian, for building device answers.
std::vector<std::uint8_t> LittleEndian32(std::uint32_t value);

}  // namespace vantor::testing
