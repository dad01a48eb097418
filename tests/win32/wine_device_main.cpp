// vantor_wine_device: native helper of scripts/wine_tests.sh. Starts simulated devices on
// pseudo-terminals (device 0 paced at the line's rate, so that the host's waits really wait),
// prints "port <index> <path>" for each, then answers commands on stdin, one a line, each
// answered by one line:
//   dump <index> <hex address> <count> <file>   writes the device's memory to <file> -> "ok"
//   flags <index>                               the last download flags word (hex) or "none"
//   quit                                        (or end of input) stops the devices
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "devsim/pty_transport.h"

int main(int argc, char** argv) {
  using vantor::devsim::PtyDevice;
  const int count = argc > 1 ? std::atoi(argv[1]) : 1;
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
