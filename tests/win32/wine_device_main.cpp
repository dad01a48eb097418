// vantor_wine_device: native helper of scripts/wine_tests.sh. Starts simulated devices on
// pseudo-terminals (device 0 paced at the line's rate, so that the host's waits really wait),
// prints "port <index> <path>" for each, then answers commands on stdin, one a line, each
// answered by one line:
//   dump <index> <hex address> <count> <file>   writes the device's memory to <file> -> "ok"
//   flags <index>                               the last download flags word (hex) or "none"
//   quit                                        (or end of input) stops the devices
//
// `vantor_wine_device COUNT PAIRS` also wires PAIRS null-modem pairs: two pseudo-terminals each,
// whose bytes a thread carries from one to the other, printed as "pair <index> <path> <path>".
// Mapped to two COM ports, they let a Windows program put a simulated device on one port and
// talk to it through the other (the programs' tests under Wine).
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "devsim/pty_transport.h"

namespace {

// One end of a null-modem pair: the master, and the raw slave kept open so that the master
// sees no hang-up while the Windows side has its port closed.
struct End {
  int master = -1;
  int slave = -1;
  std::string path;
  std::vector<std::uint8_t> pending;  // for the other end's master, not written yet
};

bool OpenEnd(End& end) {
  end.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  char name[128];
  if (end.master < 0 || ::grantpt(end.master) != 0 || ::unlockpt(end.master) != 0 ||
      ::ptsname_r(end.master, name, sizeof name) != 0)
    return false;
  end.path = name;
  end.slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios tio{};
  if (end.slave < 0 || ::tcgetattr(end.slave, &tio) != 0)
    return false;
  ::cfmakeraw(&tio);
  return ::tcsetattr(end.slave, TCSANOW, &tio) == 0;
}

// Carries bytes between the two ends of every pair until `stop` is readable. What one side
// cannot take yet waits (at most 1 MiB a direction; beyond it the oldest bytes are dropped).
void Bridge(std::vector<End>& ends, int stop) {
  constexpr std::size_t kMaxPending = 1 << 20;
  std::vector<std::uint8_t> buffer(4096);
  for (;;) {
    std::vector<pollfd> fds;
    for (std::size_t i = 0; i < ends.size(); ++i) {
      const End& other = ends[i ^ 1];
      fds.push_back(
          {ends[i].master, static_cast<short>(POLLIN | (other.pending.empty() ? 0 : POLLOUT)), 0});
    }
    fds.push_back({stop, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
      return;
    if (fds.back().revents != 0)
      return;
    for (std::size_t i = 0; i < ends.size(); ++i) {
      End& from = ends[i];
      for (;;) {
        const ssize_t got = ::read(from.master, buffer.data(), buffer.size());
        if (got <= 0)
          break;
        from.pending.insert(from.pending.end(), buffer.begin(), buffer.begin() + got);
      }
      if (from.pending.size() > kMaxPending)
        from.pending.erase(from.pending.begin(), from.pending.end() - kMaxPending);
      End& to = ends[i ^ 1];
      while (!from.pending.empty()) {
        const ssize_t put = ::write(to.master, from.pending.data(), from.pending.size());
        if (put <= 0)
          break;
        from.pending.erase(from.pending.begin(), from.pending.begin() + put);
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  using vantor::devsim::PtyDevice;
  const int count = argc > 1 ? std::atoi(argv[1]) : 1;
  const int pairs = argc > 2 ? std::atoi(argv[2]) : 0;
  std::vector<std::unique_ptr<PtyDevice>> devices;
  for (int i = 0; i < count; ++i) {
    int error = 0;
    vantor::devsim::DeviceOptions options;
    options.paced = i == 0;
    auto device = PtyDevice::Start(options, &error);
    if (!device) {
      std::cerr << "vantor_wine_device: no pseudo-terminal (errno " << error << ")\n";
      return 1;
    }
    std::cout << "port " << i << ' ' << device->path() << std::endl;
    devices.push_back(std::move(device));
  }
  std::vector<End> ends(static_cast<std::size_t>(2 * std::max(pairs, 0)));
  for (std::size_t i = 0; i < ends.size(); ++i) {
    if (!OpenEnd(ends[i])) {
      std::cerr << "vantor_wine_device: no pseudo-terminal for a null-modem pair\n";
      return 1;
    }
    if (i % 2 == 1)
      std::cout << "pair " << i / 2 << ' ' << ends[i - 1].path << ' ' << ends[i].path << std::endl;
  }
  int stop[2] = {-1, -1};
  std::thread bridge;
  if (!ends.empty()) {
    if (::pipe2(stop, O_CLOEXEC) != 0)
      return 1;
    bridge = std::thread([&] { Bridge(ends, stop[0]); });
  }
  struct StopBridge {
    std::thread& thread;
    int fd;
    ~StopBridge() {
      if (thread.joinable()) {
        [[maybe_unused]] ssize_t ignored = ::write(fd, "x", 1);
        thread.join();
      }
    }
  } stopBridge{bridge, stop[1]};
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    std::size_t index = 0;
    in >> command >> index;
    if (command == "quit")
      break;
    if (index >= devices.size()) {
      std::cout << "error no device " << index << std::endl;
      continue;
    }
    if (command == "dump") {
      std::uint32_t address = 0;
      std::size_t bytes = 0;
      std::string path;
      in >> std::hex >> address >> std::dec >> bytes >> path;
      std::vector<std::uint8_t> memory;
      devices[index]->With(
          [&](vantor::devsim::Device& d) { memory = d.ReadMemory(address, bytes); });
      std::ofstream out(path, std::ios::binary);
      out.write(reinterpret_cast<const char*>(memory.data()),
                static_cast<std::streamsize>(memory.size()));
      std::cout << (out ? "ok" : "error writing " + path) << std::endl;
    } else if (command == "flags") {
      std::optional<std::uint32_t> flags;
      devices[index]->With([&](vantor::devsim::Device& d) { flags = d.lastDownloadFlags(); });
      if (flags) {
        std::printf("%08x\n", *flags);
        std::fflush(stdout);
      } else {
        std::cout << "none" << std::endl;
      }
    } else {
      std::cout << "error unknown command" << std::endl;
    }
  }
  return 0;
}
