// Port enumeration on POSIX: serial device nodes under /dev, real UARTs only for ttyS*.
#include <algorithm>
#include <fstream>
#include <system_error>
#include <tuple>

#include "serial/number_text.h"
#include "serial/port_enumeration.h"

namespace vantor::serial {

void AppendVirtualPorts(std::vector<std::string>& ports);

namespace {

constexpr std::string_view kPrefixes[] = {"rfcomm", "ttyACM", "ttyAMA", "ttyS", "ttyUSB"};

// A ttyS node exists for every possible UART; sysfs gives type 0 to those with no hardware.
bool IsRealUart(const std::filesystem::path& sysRoot, const std::string& name) {
  std::ifstream type(sysRoot / "class/tty" / name / "type");
  int value = 0;
  return type >> value && value != 0;
}

}  // namespace

std::vector<std::string> EnumerateComPortsUnder(const std::filesystem::path& devRoot,
                                                const std::filesystem::path& sysRoot) {
  struct Found {
    std::string_view prefix;
    std::uint64_t number;
    std::string path;
  };
  std::vector<Found> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(devRoot, ec)) {
    const std::string name = entry.path().filename().string();
    for (std::string_view prefix : kPrefixes) {
      if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        continue;
      const std::string digits = name.substr(prefix.size());
      if (digits.size() > 6)
        continue;
      const auto number = ParseNumber<std::uint64_t>(digits);
      if (!number)
        continue;
      std::error_code existsError;
      if (!std::filesystem::exists(entry.path(), existsError))
        continue;  // dangling link
      if (prefix == "ttyS" && !IsRealUart(sysRoot, name))
        continue;
      found.push_back({prefix, *number, entry.path().string()});
    }
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return std::tie(a.prefix, a.number) < std::tie(b.prefix, b.number);
  });
  std::vector<std::string> ports;
  for (auto& f : found)
    ports.push_back(std::move(f.path));
  return ports;
}

std::vector<std::string> EnumerateComPorts() {
  auto ports = EnumerateComPortsUnder("/dev", "/sys");
  AppendVirtualPorts(ports);
  return ports;
}

bool IsPortName(const std::string& name) {
  return !name.empty();
}

}  // namespace vantor::serial
