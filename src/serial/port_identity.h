// What the system knows about a serial port beside its name: driver, USB vendor and product ids,
// serial number, product and manufacturer texts, and the USB serial latency timer; and the
// usb:VID:PID[:SERIAL] port names matched against it. One backend per OS reads the description:
// sysfs on POSIX (its root a parameter, so that tests run against a fake tree; where there is no
// sysfs every field stays empty), and SetupAPI on Windows (the Ports class's devices, their
// instance IDs and their parents').
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::serial {

struct PortInfo {
  std::string path;  // the name as listed (/dev/ttyUSB0, or a link to it; COM3)
  std::string name;  // the kernel's name (ttyUSB0)
  std::string driver;
  std::string vendorId;  // four hex digits in lower case
  std::string productId;
  std::string serial;
  std::string product;
  std::string manufacturer;
  std::optional<int> latencyTimerMs;
};

// The USB identity of a port: vendor and product ids (four lower-case hex digits) and serial
// number.
struct UsbIdentity {
  std::string vid;
  std::string pid;
  std::string serial;
};

// A USB id as PortInfo and UsbIdentity hold it: hex in lower case, four digits ("403" -> "0403");
// nothing stays nothing.
std::string NormalUsbId(std::string_view id);

// The USB identity that Windows device instance IDs give: `chain` holds a port's own ID first,
// then its parent's, its parent's parent's... VID and PID come from the first ID naming them
// (USB\VID_0403&PID_6001\..., FTDIBUS\VID_0403+PID_6001+...\0000); the serial from the first ID
// of a whole USB device (USB\VID_..&PID_..\SERIAL without an interface's MI_ part), which ends the
// walk, so that a hub above is never taken for the device. A last segment with '&' in it is one
// Windows made up for a device without a serial number: "no serial" (empty). None when the port's
// own ID names no VID and PID (a Bluetooth or built-in port).
std::optional<UsbIdentity> UsbIdentityFromInstanceIds(const std::vector<std::string>& chain);

// `path` described from the system's description rooted at `sysRoot` (/sys on Linux).
PortInfo DescribePort(const std::string& path, const std::filesystem::path& sysRoot);
// The root of this system's own description of its ports (/sys on Linux; none on Windows).
std::filesystem::path SystemDescriptionRoot();
// `port` described from this system's own description.
PortInfo DescribeSystemPort(const std::string& port);
// The USB identity of `port` as the system describes it; none for a port that is not USB or that
// the system does not describe.
std::optional<UsbIdentity> UsbIdentityOf(const std::string& port);

// Whether `name` is a Windows serial port name: COM and a number up to 256 (COM7, com12).
bool IsComPortName(std::string_view name);

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

// Resolves the port names `requested` against `candidates` (the enumerated ports) described under
// `sysRoot`; with `allPorts` every candidate is added. Each name once, in the order given.
bool ResolvePortNames(const std::vector<std::string>& requested, bool allPorts,
                      const std::vector<std::string>& candidates,
                      const std::filesystem::path& sysRoot, std::vector<std::string>& ports,
                      std::string& error);

// One line per port: the path, then each field the system told ("ports -v").
std::string FormatPortInfo(const PortInfo& info);

}  // namespace vantor::serial
