// The usb:VID:PID[:SERIAL] port names, the USB identity of a port and the "ports -v" line; the
// description itself comes from the OS backend (posix/port_identity_posix.cpp,
// win32/port_identity_win32.cpp).
#include "serial/port_identity.h"

#include <algorithm>
#include <cctype>

namespace vantor {

namespace {

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

std::string NormalUsbId(std::string_view id) {
  const std::string lower = Lower(id);
  return !lower.empty() && lower.size() < 4 ? std::string(4 - lower.size(), '0') + lower : lower;
}

std::optional<UsbIdentity> UsbIdentityOf(const std::string& port) {
  const PortInfo info = DescribeSystemPort(port);
  if (info.vendorId.empty() && info.productId.empty())
    return std::nullopt;
  return UsbIdentity{info.vendorId, info.productId, info.serial};
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
  const std::string vendor = NormalUsbId(parts[0]);
  const std::string product = NormalUsbId(parts[1]);
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
                      const std::vector<std::string>& candidates,
                      const std::filesystem::path& sysRoot, std::vector<std::string>& ports,
                      std::string& error) {
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

}  // namespace vantor
