// Port descriptions from sysfs and the usb:VID:PID[:SERIAL] port names.
#include "cli/port_info.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

namespace vantor::cli {

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

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    parts.emplace_back(text.substr(start, at - start));
    if (at == std::string_view::npos)
      return parts;
    start = at + 1;
  }
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
      info.vendorId = Lower(ReadLine(at / "idVendor"));
      info.productId = Lower(ReadLine(at / "idProduct"));
      info.serial = ReadLine(at / "serial");
      info.product = ReadLine(at / "product");
      info.manufacturer = ReadLine(at / "manufacturer");
      break;
    }
  }
  const std::string latency =
      ReadLine(sysRoot / "bus/usb-serial/devices" / info.name / "latency_timer");
  if (!latency.empty() && std::all_of(latency.begin(), latency.end(), ::isdigit))
    info.latencyTimerMs = std::stoi(latency);
  return info;
}

bool IsUsbName(std::string_view request) {
  return Lower(request.substr(0, 4)) == "usb:";
}

bool MatchUsbPorts(std::string_view request, const std::vector<PortInfo>& ports,
                   std::vector<const PortInfo*>& found, std::string& error) {
  found.clear();
  const std::vector<std::string> parts = Split(request.substr(4), ':');
  auto isHexId = [](const std::string& s) {
    return !s.empty() && s.size() <= 4 && std::all_of(s.begin(), s.end(), ::isxdigit);
  };
  if (parts.size() < 2 || parts.size() > 3 || !isHexId(parts[0]) || !isHexId(parts[1])) {
    error = "expected usb:VID:PID[:SERIAL] with hex ids, got '" + std::string(request) + "'";
    return false;
  }
  auto pad = [](std::string s) { return std::string(4 - s.size(), '0') + Lower(s); };
  const std::string vendor = pad(parts[0]);
  const std::string product = pad(parts[1]);
  for (const PortInfo& p : ports) {
    if (p.vendorId == vendor && p.productId == product &&
        (parts.size() < 3 || p.serial == parts[2]))
      found.push_back(&p);
  }
  return true;
}

bool MatchUsbName(std::string_view request, const std::vector<PortInfo>& ports, std::string& match,
                  std::string& error) {
  std::vector<const PortInfo*> found;
  if (!MatchUsbPorts(request, ports, found, error))
    return false;
  if (found.size() == 1) {
    match = found[0]->path;
    return true;
  }
  if (found.empty()) {
    error = "no port matches " + std::string(request) + " (see vantor ports -v)";
  } else {
    error = std::string(request) + " matches several ports:";
    for (const PortInfo* p : found)
      error += " " + p->path + (p->serial.empty() ? "" : " (serial " + p->serial + ")");
    error += "; add the serial number: usb:VID:PID:SERIAL";
  }
  return false;
}

bool ResolvePortNames(const std::vector<std::string>& requested, bool allPorts,
                      const std::vector<std::string>& candidates, const fs::path& sysRoot,
                      std::vector<std::string>& ports, std::string& error) {
  ports.clear();
  auto add = [&ports](const std::string& name) {
    if (std::find(ports.begin(), ports.end(), name) == ports.end())
      ports.push_back(name);
  };
  std::vector<PortInfo> described;
  for (const std::string& request : requested) {
    if (!IsUsbName(request)) {
      add(request);
      continue;
    }
    if (described.empty()) {
      for (const std::string& c : candidates)
        described.push_back(DescribePort(c, sysRoot));
    }
    std::string match;
    if (!MatchUsbName(request, described, match, error))
      return false;
    add(match);
  }
  if (allPorts) {
    for (const std::string& c : candidates)
      add(c);
  }
  return true;
}

std::string FormatPortInfo(const PortInfo& p) {
  std::string line = p.path;
  auto field = [&line](const char* label, const std::string& value) {
    if (!value.empty())
      line += std::string("  ") + label + "=" + value;
  };
  field("driver", p.driver);
  if (!p.vendorId.empty())
    line += "  usb=" + p.vendorId + ":" + p.productId;
  field("serial", p.serial);
  field("manufacturer", p.manufacturer.empty() ? "" : "\"" + p.manufacturer + "\"");
  field("product", p.product.empty() ? "" : "\"" + p.product + "\"");
  if (p.latencyTimerMs)
    line += "  latency_timer=" + std::to_string(*p.latencyTimerMs) + "ms";
  return line;
}

}  // namespace vantor::cli
