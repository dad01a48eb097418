// PtyDevice on Windows: the device thread behind one end of a null-modem pair of COM ports (two
// ports wired to each other: com0com on Windows, two bridged pseudo-terminals under Wine). The
// pairs are named by VANTOR_NULL_MODEM_PAIRS, "HOST:DEVICE[,HOST:DEVICE...]" (for example
// "COM20:COM21"); each device takes a free pair, answers on its DEVICE port, and path() is the
// HOST port that the programs open. The thread waits for the first byte (the port's event wait),
// bounded by the device's next wake time, so an idle device costs no CPU.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <vector>

#include "devsim/pty_transport.h"
#include "serial/serial_port.h"

namespace vantor::devsim {
namespace {

// How long one wait for the host's bytes may last: the longest delay before With's changes and
// a stop are seen.
constexpr DWORD kMaxWaitMs = 20;

struct Pair {
  std::string host;
  std::string device;
  bool inUse = false;
};

std::mutex g_pairsMutex;
std::vector<Pair>* g_pairs = nullptr;

std::vector<Pair>& Pairs() {
  if (g_pairs == nullptr) {
    g_pairs = new std::vector<Pair>();
    const char* spec = std::getenv("VANTOR_NULL_MODEM_PAIRS");
    std::istringstream in(spec ? spec : "");
    std::string item;
    while (std::getline(in, item, ',')) {
      const auto colon = item.find(':');
      if (colon != std::string::npos)
        g_pairs->push_back({item.substr(0, colon), item.substr(colon + 1)});
    }
  }
  return *g_pairs;
}

HANDLE AsHandle(const serial::SerialPort& port) {
  return reinterpret_cast<HANDLE>(port.handle);
}

// Whatever an earlier device or host left in the pair's queues goes.
void PurgeHostSide(const std::string& host) {
  serial::SerialPort port;
  if (port.Open(host) == serial::kInvalidHandle)
    return;
  ::PurgeComm(AsHandle(port), PURGE_RXCLEAR | PURGE_TXCLEAR);
  port.Close();
}

}  // namespace

struct PtyDevice::Impl {
  explicit Impl(DeviceOptions options) : device(std::move(options)) {}

  Device device;
  std::mutex mutex;
  serial::SerialPort port;
  std::size_t pair = 0;
  std::string path;
  std::thread thread;
  std::atomic<bool> stopping{false};

  void Run() {
    std::vector<std::uint8_t> buffer(4096);
    while (!stopping) {
      DWORD wait = kMaxWaitMs;
      {
        std::lock_guard lock(mutex);
        if (const auto wake = device.NextWakeTime()) {
          const auto left =
              std::chrono::duration_cast<std::chrono::milliseconds>(*wake - Clock::now()).count();
          wait = static_cast<DWORD>(std::clamp<long long>(left, 1, kMaxWaitMs));
        }
      }
      // Blocks until the first byte or the device's next wake time, then takes what came.
      std::uint32_t got = static_cast<std::uint32_t>(buffer.size());
      if (port.WaitReadable(std::chrono::milliseconds(wait)) != 0 ||
          port.Read(buffer.data(), got) != 0)
        got = 0;
      std::lock_guard lock(mutex);
      const Clock::time_point now = Clock::now();
      if (got > 0)
        device.Receive(std::span(buffer.data(), got), now);
      std::vector<std::uint8_t> out = device.Transmit(now);
      if (device.TakeLineCuts() > 0)
        out.clear();  // a null-modem pair cannot be hung up: the line only goes quiet
      std::size_t sent = 0;
      while (sent < out.size() && !stopping) {
        std::uint32_t put = static_cast<std::uint32_t>(out.size() - sent);
        if (port.Write(out.data() + sent, put) != 0 || put == 0)
          break;
        sent += put;
      }
    }
  }

  void Stop() {
    if (thread.joinable()) {
      stopping = true;
      thread.join();
    }
  }
};

PtyDevice::PtyDevice() = default;

std::unique_ptr<PtyDevice> PtyDevice::Start(DeviceOptions options, int* error) {
  std::unique_ptr<PtyDevice> pty(new PtyDevice());  // private constructor
  pty->m_impl = std::make_unique<Impl>(std::move(options));
  Impl& d = *pty->m_impl;
  std::lock_guard lock(g_pairsMutex);
  std::vector<Pair>& pairs = Pairs();
  const auto free =
      std::find_if(pairs.begin(), pairs.end(), [](const Pair& p) { return !p.inUse; });
  if (free == pairs.end()) {
    if (error)
      *error = ERROR_NOT_FOUND;
    return nullptr;
  }
  d.port.trace = false;
  if (d.port.Open(free->device) == serial::kInvalidHandle) {
    if (error)
      *error = static_cast<int>(serial::SerialPort::LastOpenError());
    return nullptr;
  }
  ::PurgeComm(AsHandle(d.port), PURGE_RXCLEAR | PURGE_TXCLEAR);
  PurgeHostSide(free->host);
  free->inUse = true;
  d.pair = static_cast<std::size_t>(free - pairs.begin());
  d.path = free->host;
  d.thread = std::thread([&d] { d.Run(); });
  if (error)
    *error = 0;
  return pty;
}

PtyDevice::~PtyDevice() {
  if (!m_impl)
    return;
  Disconnect();
}

const std::string& PtyDevice::path() const {
  return m_impl->path;
}

void PtyDevice::With(const std::function<void(Device&)>& fn) {
  std::lock_guard lock(m_impl->mutex);
  fn(m_impl->device);
}

void PtyDevice::Disconnect() {
  m_impl->Stop();
  std::lock_guard lock(m_impl->mutex);
  if (m_impl->port.IsOpen()) {
    m_impl->port.Close();
    std::lock_guard pairsLock(g_pairsMutex);
    Pairs()[m_impl->pair].inUse = false;
  }
}

}  // namespace vantor::devsim
