// The usb:VID:PID[:SERIAL] port names, the USB identity of a port and the "ports -v" line; the
// description itself comes from the OS backend (posix/port_identity_posix.cpp,
// win32/port_identity_win32.cpp).
#include "serial/port_identity.h"

#include <algorithm>
#include <cctype>

#include "serial/number_text.h"

namespace vantor::serial {

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

std::optional<UsbIdentity> UsbIdentityFromInstanceIds(const std::vector<std::string>& chain) {
  std::optional<UsbIdentity> identity;
  for (const std::string& id : chain) {
    // ENUMERATOR\HARDWARE\INSTANCE; the hardware part's items joined by '&' (USB) or '+' (FTDI).
    const std::vector<std::string> segments = Split(id, '\\');
    if (segments.size() < 3) {
      if (!identity)
        break;
      continue;
    }
    std::string vid, pid;
    bool interface = false;
    std::string items = segments[1];
    std::replace(items.begin(), items.end(), '+', '&');
    for (const std::string& item : Split(items, '&')) {
      const std::string lower = Lower(item);
      if (lower.rfind("vid_", 0) == 0)
        vid = NormalUsbId(lower.substr(4));
      else if (lower.rfind("pid_", 0) == 0)
        pid = NormalUsbId(lower.substr(4));
      else if (lower.rfind("mi_", 0) == 0)
        interface = true;
    }
    // A port whose own ID names no USB device is no USB port (a Bluetooth port's parent is the
    // radio, not the far device).
    if (vid.empty() || pid.empty()) {
      if (!identity)
        break;
      continue;
    }
    if (!identity)
      identity = UsbIdentity{vid, pid, ""};
    if (Lower(segments[0]) == "usb" && !interface) {
      if (segments[2].find('&') == std::string::npos)
        identity->serial = segments[2];
      break;
    }
  }
  return identity;
}

std::optional<UsbIdentity> UsbIdentityOf(const std::string& port) {
  const PortInfo info = DescribeSystemPort(port);
  if (info.vendorId.empty() && info.productId.empty())
    return std::nullopt;
  return UsbIdentity{info.vendorId, info.productId, info.serial};
}

bool IsComPortName(std::string_view name) {
  if (name.size() < 4 || name.size() > 6 || Lower(name.substr(0, 3)) != "com")
    return false;
  const std::string_view digits = name.substr(3);
  if (digits.size() > 1 && digits[0] == '0')
    return false;
  const auto number = ParseNumber<unsigned>(digits);
  return number && *number <= 256;
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

}  // namespace vantor::serial
