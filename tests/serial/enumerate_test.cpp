// Port enumeration over a fake /dev and /sys tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "serial/port_enumeration.h"
#include "support/test_files.h"

namespace vantor::serial {
namespace {

namespace fs = std::filesystem;

class EnumerateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dev());
    fs::create_directories(sys());
  }

  fs::path dev() const { return m_root / "dev"; }
  fs::path sys() const { return m_root / "sys"; }
  void Node(const std::string& name) { vantor::testing::WriteFileText(dev() / name, "x"); }
  void UartType(const std::string& name, int type) {
    fs::create_directories(sys() / "class/tty" / name);
    vantor::testing::WriteFileText(sys() / "class/tty" / name / "type",
                                   std::to_string(type) + "\n");
  }

 private:
  vantor::testing::TempFolder m_root;
};

TEST_F(EnumerateTest, ListsSerialNodesByPrefixThenNumber) {
  for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyACM0", "rfcomm1", "ttyAMA0",
                           "ttyS0", "ttyS1", "ttyS2", "ttyUSBx", "console", "tty0", "ttyUSB"}) {
    Node(name);
  }
  UartType("ttyS0", 4);  // a real 16550A
  UartType("ttyS1", 0);  // no hardware behind it
  // ttyS2 has no sysfs entry at all: not listed.
  fs::create_symlink(dev() / "ttyUSB0", dev() / "ttyUSB9");           // symlinks count
  fs::create_symlink(dev() / "missing", dev() / "ttyUSB8");           // dangling: not present
  fs::create_symlink(dev() / "ttyUSB0", dev() / "ttyUSB1234567890");  // absurd number: ignored

  const auto ports = EnumerateComPortsUnder(dev(), sys());
  std::vector<std::string> expected;
  for (const char* name :
       {"rfcomm1", "ttyACM0", "ttyAMA0", "ttyS0", "ttyUSB0", "ttyUSB2", "ttyUSB9", "ttyUSB10"}) {
    expected.push_back((dev() / name).string());
  }
  EXPECT_EQ(ports, expected);
}

TEST_F(EnumerateTest, AMissingDevFolderGivesNoPorts) {
  EXPECT_TRUE(EnumerateComPortsUnder(dev() / "nothing", sys()).empty());
}

TEST(VirtualPortTest, RegisteredPortsFollowTheSystemsOnesOnce) {
  AddVirtualPort("/tmp/vantor-sim-port");
  AddVirtualPort("/tmp/vantor-sim-port");
  auto ports = EnumerateComPorts();
  EXPECT_EQ(std::count(ports.begin(), ports.end(), "/tmp/vantor-sim-port"), 1);
  EXPECT_EQ(ports.back(), "/tmp/vantor-sim-port");
  RemoveVirtualPort("/tmp/vantor-sim-port");
  ports = EnumerateComPorts();
  EXPECT_EQ(std::count(ports.begin(), ports.end(), "/tmp/vantor-sim-port"), 0);
}

}  // namespace
}  // namespace vantor::serial
