// What the system knows about a serial port, read from sysfs (Linux): driver, USB vendor and
// product ids, serial number, product and manufacturer texts, and the USB serial latency timer;
// and the usb:VID:PID[:SERIAL] port names matched against it. The sysfs root is a parameter so
// that tests run against a fake tree; where there is no sysfs every field stays empty.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::cli {

struct PortInfo {
  std::string path;  // the name as listed (/dev/ttyUSB0, or a link to it)
  std::string name;  // the kernel's name (ttyUSB0)
  std::string driver;
  std::string vendorId;  // four hex digits, as sysfs writes them
  std::string productId;
  std::string serial;
  std::string product;
  std::string manufacturer;
  std::optional<int> latencyTimerMs;
};

PortInfo DescribePort(const std::string& path, const std::filesystem::path& sysRoot);

// Whether `request` is a usb: name.
bool IsUsbName(std::string_view request);
// Every port of `ports` that `request` (usb:VID:PID[:SERIAL], ids in hex, case-insensitive)
// names, possibly none. False with `error` only when the request does not parse.
bool MatchUsbPorts(std::string_view request, const std::vector<PortInfo>& ports,
                   std::vector<const PortInfo*>& found, std::string& error);
// The one port of `ports` that `request` (usb:VID:PID[:SERIAL], ids in hex, case-insensitive)
// names. False with `error` when none or several match, or the request does not parse.
bool MatchUsbName(std::string_view request, const std::vector<PortInfo>& ports, std::string& match,
                  std::string& error);

// Resolves -p requested against `candidates` (the enumerated ports) described under `sysRoot`;
// with `allPorts` every candidate is added. Each name once, in the order given.
bool ResolvePortNames(const std::vector<std::string>& requested, bool allPorts,
                      const std::vector<std::string>& candidates,
                      const std::filesystem::path& sysRoot, std::vector<std::string>& ports,
                      std::string& error);

// One line per port for "ports -v".
std::string FormatPortInfo(const PortInfo& info);

}  // namespace vantor::cli
