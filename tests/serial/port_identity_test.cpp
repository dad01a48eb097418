// Port descriptions over a fake sysfs tree and the usb:VID:PID[:SERIAL] names matched against
// them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "serial/port_identity.h"
#include "support/test_files.h"

namespace vantor::serial {
namespace {

namespace fs = std::filesystem;

// A sysfs tree as Linux lays it out for a USB serial adapter (two FTDI ports with different
// serial numbers, one CDC-ACM port) and a plain UART without USB.
class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    Usb("usb1/1-1", "0403", "6001", "A5XK3RJT", "FT232R USB UART", "FTDI", "ttyUSB0", "ftdi_sio",
        "1");
    Usb("usb1/1-2", "0403", "6001", "B7Q2", "FT232R USB UART", "FTDI", "ttyUSB1", "ftdi_sio", "16");
    Usb("usb1/1-3", "2E8A", "000a", "E66", "Pico", "Raspberry Pi", "ttyACM0", "cdc_acm", "");
    fs::create_directories(m_root / "devices/platform/serial8250/tty/ttyS0");
    fs::create_directories(m_root / "class/tty/ttyS0");
    fs::create_directory_symlink(m_root / "devices/platform/serial8250/tty/ttyS0",
                                 m_root / "class/tty/ttyS0/device");
  }

  void Usb(const std::string& at, const std::string& vid, const std::string& pid,
           const std::string& serial, const std::string& product, const std::string& maker,
           const std::string& tty, const std::string& driver, const std::string& latency) {
    const fs::path usb = m_root / "devices/pci0000:00" / at;
    const fs::path iface = usb / (at.substr(at.rfind('/') + 1) + ":1.0");
    const fs::path port = iface / tty;
    fs::create_directories(port);
    auto put = [](const fs::path& p, const std::string& text) {
      vantor::testing::WriteFileText(p, text + "\n");
    };
    put(usb / "idVendor", vid);
    put(usb / "idProduct", pid);
    put(usb / "serial", serial);
    put(usb / "product", product);
    put(usb / "manufacturer", maker);
    fs::create_directories(m_root / "bus/usb-serial/drivers" / driver);
    fs::create_directory_symlink(m_root / "bus/usb-serial/drivers" / driver, port / "driver");
    fs::create_directories(m_root / "class/tty" / tty);
    fs::create_directory_symlink(port, m_root / "class/tty" / tty / "device");
    if (!latency.empty()) {
      fs::create_directories(m_root / "bus/usb-serial/devices" / tty);
      put(m_root / "bus/usb-serial/devices" / tty / "latency_timer", latency);
    }
  }

  vantor::testing::TempFolder m_root;  // the tree's root, a folder of the test's own
};

TEST_F(FakeSysfs, DescribesUsbSerialPorts) {
  const PortInfo ftdi = DescribePort("/dev/ttyUSB0", m_root.path());
  EXPECT_EQ(ftdi.name, "ttyUSB0");
  EXPECT_EQ(ftdi.driver, "ftdi_sio");
  EXPECT_EQ(ftdi.vendorId, "0403");
  EXPECT_EQ(ftdi.productId, "6001");
  EXPECT_EQ(ftdi.serial, "A5XK3RJT");
  EXPECT_EQ(ftdi.product, "FT232R USB UART");
  EXPECT_EQ(ftdi.manufacturer, "FTDI");
  EXPECT_EQ(ftdi.latencyTimerMs, 1);
  EXPECT_EQ(FormatPortInfo(ftdi),
            "/dev/ttyUSB0  driver=ftdi_sio  usb=0403:6001  serial=A5XK3RJT  manufacturer=\"FTDI\"  "
            "product=\"FT232R USB UART\"  latency_timer=1ms");

  const PortInfo acm = DescribePort("/dev/ttyACM0", m_root.path());
  EXPECT_EQ(acm.vendorId, "2e8a");  // ids compare in lower case
  EXPECT_FALSE(acm.latencyTimerMs.has_value());
  const PortInfo uart = DescribePort("/dev/ttyS0", m_root.path());
  EXPECT_TRUE(uart.vendorId.empty());
  EXPECT_EQ(FormatPortInfo(uart), "/dev/ttyS0");
}

TEST_F(FakeSysfs, UsbNamesPickExactlyOnePort) {
  const std::vector<std::string> candidates{"/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyUSB0",
                                            "/dev/ttyUSB1"};
  struct Case {
    std::string request;
    bool ok;
    std::string result;  // the port, or a part of the error
  };
  const Case cases[] = {
      {"usb:2e8a:000A", true, "/dev/ttyACM0"},
      {"usb:0403:6001:B7Q2", true, "/dev/ttyUSB1"},
      {"USB:403:6001:A5XK3RJT", true, "/dev/ttyUSB0"},
      {"usb:0403:6001", false,
       "matches several ports: /dev/ttyUSB0 (serial A5XK3RJT) /dev/ttyUSB1"},
      {"usb:0403:6015", false, "no port matches usb:0403:6015"},
      {"usb:0403", false, "expected usb:VID:PID[:SERIAL]"},
      {"usb:xyz:6001", false, "expected usb:VID:PID[:SERIAL]"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> ports;
    std::string error;
    const bool ok = ResolvePortNames({c.request}, false, candidates, m_root.path(), ports, error);
    EXPECT_EQ(ok, c.ok) << c.request << ": " << error;
    if (c.ok) {
      ASSERT_EQ(ports.size(), 1u) << c.request;
      EXPECT_EQ(ports[0], c.result);
    } else {
      EXPECT_NE(error.find(c.result), std::string::npos) << c.request << ": " << error;
    }
  }
  // --all-ports adds every candidate after the named ones, each once.
  std::vector<std::string> ports;
  std::string error;
  ASSERT_TRUE(ResolvePortNames({"/dev/ttyUSB1"}, true, candidates, m_root.path(), ports, error));
  EXPECT_EQ(ports, (std::vector<std::string>{"/dev/ttyUSB1", "/dev/ttyACM0", "/dev/ttyS0",
                                             "/dev/ttyUSB0"}));
}

}  // namespace
}  // namespace vantor::serial
