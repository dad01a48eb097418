// PtyDevice: the device thread behind a pseudo-terminal. The thread blocks in ppoll on the master
// and a stop pipe, with the timeout set by the device's next wake time, so an idle device costs
// no CPU. Its own open slave fd keeps the master from seeing a hang-up when the host closes. When
// the device's chaos cuts the line, the slave is hung up (the host's open port sees the hang-up)
// and reopened, so the path stays and the host can open it again.
#include "devsim/pty_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

namespace vantor::devsim {
namespace {
// Bytes the host has not read yet beyond this are dropped (oldest first).
constexpr std::size_t kMaxUnsent = 1 << 20;

void CloseFd(int& fd) {
  if (fd >= 0)
    ::close(fd);
  fd = -1;
}

// An open slave in raw mode (the device's own, which keeps the pair alive); -1 on failure.
int OpenRawSlave(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios tio{};
  if (fd >= 0 && ::tcgetattr(fd, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
  }
  return fd;
}
}  // namespace

struct PtyDevice::Impl {
  explicit Impl(DeviceOptions options) : device(std::move(options)) {}

  Device device;
  std::mutex mutex;
  int master = -1;
  int slaveKeeper = -1;
  int stopPipe[2] = {-1, -1};
  std::string path;
  std::vector<std::uint8_t> unsent;
  std::thread thread;
  std::atomic<bool> stopping{false};

  // Makes the thread look at the device again (after With) or, with `stopping`, end.
  void Wake() {
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(stopPipe[1], &byte, 1);
  }

  void Run() {
    std::vector<std::uint8_t> buffer(4096);
    for (;;) {
      std::optional<Clock::time_point> wake;
      bool wantWrite = false;
      {
        std::lock_guard lock(mutex);
        wake = device.NextWakeTime();
        wantWrite = !unsent.empty();
      }
      timespec timeout{};
      timespec* timeoutPtr = nullptr;
      if (wake) {
        auto left = *wake - Clock::now();
        if (left < Clock::duration::zero())
          left = Clock::duration::zero();
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        timeoutPtr = &timeout;
      }
      pollfd fds[2] = {{master, static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0},
                       {stopPipe[0], POLLIN, 0}};
      const int n = ::ppoll(fds, 2, timeoutPtr, nullptr);
      if (n < 0 && errno != EINTR)
        return;
      if (fds[1].revents != 0) {
        char drain[64];
        while (::read(stopPipe[0], drain, sizeof drain) > 0) {
        }
        if (stopping)
          return;
      }
      if (fds[0].revents & (POLLERR | POLLNVAL))
        return;

      std::lock_guard lock(mutex);
      const Clock::time_point now = Clock::now();
      for (;;) {
        const ssize_t got = ::read(master, buffer.data(), buffer.size());
        if (got <= 0)
          break;
        device.Receive(std::span(buffer.data(), static_cast<std::size_t>(got)), now);
      }
      std::vector<std::uint8_t> out = device.Transmit(now);
      if (device.TakeLineCuts() > 0) {
        HangUp();
        out.clear();
      }
      unsent.insert(unsent.end(), out.begin(), out.end());
      if (unsent.size() > kMaxUnsent) {
        unsent.erase(unsent.begin(), unsent.end() - static_cast<std::ptrdiff_t>(kMaxUnsent));
      }
      while (!unsent.empty()) {
        const ssize_t put = ::write(master, unsent.data(), unsent.size());
        if (put <= 0)
          break;  // EAGAIN: the rest waits for POLLOUT
        unsent.erase(unsent.begin(), unsent.begin() + put);
      }
    }
  }

  // The line is cut: the host's open port sees a hang-up and what is on its way is lost. Without
  // the right to hang up a terminal (CAP_SYS_ADMIN) the line only goes quiet.
  void HangUp() {
    unsent.clear();
    if (::ioctl(slaveKeeper, TIOCVHANGUP) != 0)
      return;
    CloseFd(slaveKeeper);
    slaveKeeper = OpenRawSlave(path);
    if (slaveKeeper >= 0)
      ::tcflush(slaveKeeper, TCIOFLUSH);
  }

  void Stop() {
    if (thread.joinable()) {
      stopping = true;
      Wake();
      thread.join();
    }
  }

  void CloseAll() {
    CloseFd(master);
    CloseFd(slaveKeeper);
    CloseFd(stopPipe[0]);
    CloseFd(stopPipe[1]);
  }
};

PtyDevice::PtyDevice() = default;

std::unique_ptr<PtyDevice> PtyDevice::Start(DeviceOptions options, int* error) {
  std::unique_ptr<PtyDevice> pty(new PtyDevice());  // private constructor
  pty->m_impl = std::make_unique<Impl>(std::move(options));
  Impl& d = *pty->m_impl;
  auto fail = [&](int code) -> std::unique_ptr<PtyDevice> {
    if (error)
      *error = code;
    d.CloseAll();
    return nullptr;
  };
  d.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (d.master < 0)
    return fail(errno);
  if (::grantpt(d.master) != 0 || ::unlockpt(d.master) != 0)
    return fail(errno);
  char name[128];
  if (::ptsname_r(d.master, name, sizeof name) != 0)
    return fail(errno);
  d.path = name;
  d.slaveKeeper = OpenRawSlave(d.path);
  if (d.slaveKeeper < 0)
    return fail(errno);
  if (::pipe2(d.stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return fail(errno);
  ::fcntl(d.master, F_SETFD, FD_CLOEXEC);
  d.thread = std::thread([&d] { d.Run(); });
  if (error)
    *error = 0;
  return pty;
}

PtyDevice::~PtyDevice() {
  if (!m_impl)
    return;
  m_impl->Stop();
  m_impl->CloseAll();
}

const std::string& PtyDevice::path() const {
  return m_impl->path;
}

void PtyDevice::With(const std::function<void(Device&)>& fn) {
  {
    std::lock_guard lock(m_impl->mutex);
    fn(m_impl->device);
  }
  if (m_impl->stopPipe[1] >= 0)
    m_impl->Wake();
}

void PtyDevice::Disconnect() {
  m_impl->Stop();
  std::lock_guard lock(m_impl->mutex);
  CloseFd(m_impl->master);
  CloseFd(m_impl->slaveKeeper);
}

}  // namespace vantor::devsim
