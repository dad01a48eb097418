// What Windows tells of a port, parsed on every system: device instance IDs and their parents'
// give VID, PID and the USB serial; port names that may be opened.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "serial/port_identity.h"

namespace vantor::serial {
namespace {

// Windows device instance IDs, the port's own first and then its parents', as SetupAPI gives
// them for common adapters.
TEST(InstanceIdTest, UsbIdentityFromTheChain) {
  struct Case {
    const char* what;
    std::vector<std::string> chain;
    bool usb;
    const char* vid;
    const char* pid;
    const char* serial;
  };
  const Case cases[] = {
      {"CDC-ACM device with a serial",
       {"USB\\VID_2E8A&PID_000A\\E6614864D3", "USB\\ROOT_HUB30\\4&1A2B3C&0&0"},
       true,
       "2e8a",
       "000a",
       "E6614864D3"},
      {"composite: the interface's made-up ID, the serial from the device above",
       {"USB\\VID_2E8A&PID_000A&MI_00\\6&2F3A4B&0&0000", "USB\\VID_2E8A&PID_000A\\E66148",
        "USB\\VID_05E3&PID_0608\\5&1111&0&3"},
       true,
       "2e8a",
       "000a",
       "E66148"},
      {"FTDI's bus: the serial from the USB device, not the port's lettered one",
       {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "USB\\VID_0403&PID_6001\\A50285BI"},
       true,
       "0403",
       "6001",
       "A50285BI"},
      {"no serial: Windows made up the ID (with '&'); the hub above is not asked",
       {"USB\\VID_1A86&PID_7523\\5&2A3B4C5D&0&2", "USB\\VID_05E3&PID_0608\\SERIALOFHUB"},
       true,
       "1a86",
       "7523",
       ""},
      {"composite without a serial",
       {"USB\\VID_10C4&PID_EA60&MI_01\\7&AB&0&0001", "USB\\VID_10C4&PID_EA60\\6&CD&0&4"},
       true,
       "10c4",
       "ea60",
       ""},
      {"lower-case ids as some drivers write them",
       {"usb\\vid_0483&pid_5740\\207A3592"},
       true,
       "0483",
       "5740",
       "207A3592"},
      {"built-in port", {"ACPI\\PNP0501\\1", "ACPI\\PNP0A08\\0"}, false, "", "", ""},
      {"Bluetooth port: its parent's radio is not the far device",
       {"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1&0&000000000000_0",
        "BTH\\MS_BTHBRB\\6&2&0&1", "USB\\VID_8087&PID_0A2B\\5&3&0&7"},
       false,
       "",
       "",
       ""},
      {"no ID at all (Wine keeps no device for a mapped port)", {}, false, "", "", ""},
      {"malformed ID", {"USB\\VID_0403&PID_6001"}, false, "", "", ""},
  };
  for (const Case& c : cases) {
    const auto got = UsbIdentityFromInstanceIds(c.chain);
    ASSERT_EQ(got.has_value(), c.usb) << c.what;
    if (!got)
      continue;
    EXPECT_EQ(got->vid, c.vid) << c.what;
    EXPECT_EQ(got->pid, c.pid) << c.what;
    EXPECT_EQ(got->serial, c.serial) << c.what;
  }
  // A port so described is matched by its usb: name as on any system.
  PortInfo port{"COM7", "COM7", "usbser", "2e8a", "000a", "E66148", "", "", std::nullopt};
  std::string match, error;
  ASSERT_TRUE(MatchUsbName("usb:2E8A:A:E66148", {port}, match, error)) << error;
  EXPECT_EQ(match, "COM7");
}

// Windows port names: what may be opened as a port, so that no other device is.
TEST(InstanceIdTest, ComPortNames) {
  for (const char* yes : {"COM1", "com7", "COM12", "COM256", "COM0"})
    EXPECT_TRUE(IsComPortName(yes)) << yes;
  for (const char* no : {"COM", "COM257", "COM007", "COM1a", "PhysicalDrive0", "NUL", "LPT1",
                         "\\\\.\\COM7", "/dev/ttyUSB0", "", "COM12345"})
    EXPECT_FALSE(IsComPortName(no)) << no;
}

}  // namespace
}  // namespace vantor::serial
