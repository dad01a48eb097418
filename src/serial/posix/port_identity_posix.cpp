// Port descriptions from sysfs: the tty's device, its driver, the USB device above it that carries
// the ids, and the usb-serial latency timer.
#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

#include "serial/number_text.h"
#include "serial/port_identity.h"

namespace vantor::serial {

namespace fs = std::filesystem;

namespace {

std::string ReadLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
    line.pop_back();
  return line;
}

}  // namespace

PortInfo DescribePort(const std::string& path, const fs::path& sysRoot) {
  PortInfo info;
  info.path = path;
  std::error_code ec;
  // A link such as /dev/serial/by-id/... or a --link of "vantor sim" names the real node.
  const fs::path real = fs::canonical(path, ec);
  info.name = (ec ? fs::path(path) : real).filename().string();

  const fs::path ttyDevice = sysRoot / "class/tty" / info.name / "device";
  const fs::path device = fs::canonical(ttyDevice, ec);
  if (ec)
    return info;
  const fs::path driver = fs::read_symlink(device / "driver", ec);
  if (!ec)
    info.driver = driver.filename().string();
  // Up from the port's device to the USB device that carries the ids.
  for (fs::path at = device; !at.empty() && at != at.root_path() && at != sysRoot;
       at = at.parent_path()) {
    if (fs::exists(at / "idVendor", ec)) {
      info.vendorId = NormalUsbId(ReadLine(at / "idVendor"));
      info.productId = NormalUsbId(ReadLine(at / "idProduct"));
      info.serial = ReadLine(at / "serial");
      info.product = ReadLine(at / "product");
      info.manufacturer = ReadLine(at / "manufacturer");
      break;
    }
  }
  const std::string latency =
      ReadLine(sysRoot / "bus/usb-serial/devices" / info.name / "latency_timer");
  if (const auto ms = ParseNumber<std::uint16_t>(latency))
    info.latencyTimerMs = static_cast<int>(*ms);
  return info;
}

std::filesystem::path SystemDescriptionRoot() {
  return "/sys";
}

PortInfo DescribeSystemPort(const std::string& port) {
  return DescribePort(port, SystemDescriptionRoot());
}

}  // namespace vantor::serial
