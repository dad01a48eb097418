#include "support/pty_pair.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace vantor::testing {

PtyPair::PtyPair() {
  m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
    ADD_FAILURE() << "no pseudo-terminal: " << errno;
    return;
  }
  char name[128];
  if (ptsname_r(m_master, name, sizeof name) != 0) {
    ADD_FAILURE() << "ptsname_r failed";
    return;
  }
  m_path = name;
  m_slaveKeeper = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_slaveKeeper >= 0) {
    termios tio{};
    tcgetattr(m_slaveKeeper, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_slaveKeeper, TCSANOW, &tio);
  }
}

PtyPair::~PtyPair() {
  CloseMaster();
  if (m_slaveKeeper >= 0)
    ::close(m_slaveKeeper);
}

void PtyPair::Write(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(m_master, bytes.data() + done, bytes.size() - done);
    if (put < 0) {
      if (errno == EAGAIN || errno == EINTR) {
        pollfd pfd{m_master, POLLOUT, 0};
        ::poll(&pfd, 1, 100);
        continue;
      }
      ADD_FAILURE() << "write to pty master failed: " << errno;
      return;
    }
    done += static_cast<std::size_t>(put);
  }
}

void PtyPair::Write(const std::string& text) {
  Write(std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> PtyPair::Read(std::size_t atLeast, std::chrono::milliseconds timeout) {
  std::vector<std::uint8_t> got;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (got.size() < atLeast) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      break;
    pollfd pfd{m_master, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(left.count()) + 1) <= 0)
      continue;
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n > 0) {
      got.insert(got.end(), buffer, buffer + n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      break;
    }
  }
  return got;
}

void PtyPair::CloseMaster() {
  if (m_master >= 0) {
    ::close(m_master);
    m_master = -1;
  }
  if (m_slaveKeeper >= 0) {
    ::close(m_slaveKeeper);
    m_slaveKeeper = -1;
  }
}

void PtyPortTest::SetUp() {
  port = serial::CreatePort(pty.path(), /*trace=*/false);
  ASSERT_TRUE(port->IsOpen());
  link.port = port.get();
}

SimulatedDevice StartSimulatedDevice(devsim::DeviceOptions options, bool trace) {
  SimulatedDevice sim;
  int error = 0;
  sim.device = devsim::PtyDevice::Start(std::move(options), &error);
  if (!sim.device) {
    ADD_FAILURE() << "simulated device did not start: " << error;
    return sim;
  }
  sim.port = serial::CreatePort(sim.device->path(), trace);
  if (!sim.port->IsOpen()) {
    ADD_FAILURE() << "port " << sim.device->path() << " did not open: "
                  << serial::SystemErrorText(serial::SerialPort::LastOpenError());
  }
  sim.link.port = sim.port.get();
  return sim;
}

std::vector<std::uint8_t> LittleEndian32(std::uint32_t value) {
  std::vector<std::uint8_t> bytes(4);
  protocol::PutU32(bytes.data(), value);
  return bytes;
}

}  // namespace vantor::testing
