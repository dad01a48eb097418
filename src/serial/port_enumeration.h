// EnumerateComPorts: the serial ports present on this machine, as names that SerialPort::Open
// takes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vantor::serial {

// Windows: "COM0".."COM254" for which QueryDosDeviceW answers or that HARDWARE\DEVICEMAP\SERIALCOMM
// lists, in ascending number order.
// Elsewhere: the existing nodes /dev/ttyUSB*, /dev/ttyACM*, /dev/ttyAMA*, /dev/rfcomm*, and
// /dev/ttyS* where sysfs shows a real UART (symlinks count), ascending by prefix then number;
// followed by the ports registered with AddVirtualPort.
std::vector<std::string> EnumerateComPorts();

// The POSIX rule over other roots, for tests: `devRoot` in place of /dev, `sysRoot` of /sys.
std::vector<std::string> EnumerateComPortsUnder(const std::filesystem::path& devRoot,
                                                const std::filesystem::path& sysRoot);

// Registers a port that the OS does not list, such as a simulated device's pseudo-terminal, so
// that the programs' port lists show it. Process-wide; thread-safe.
void AddVirtualPort(const std::string& name);
void RemoveVirtualPort(const std::string& name);
// Whether `name` was registered with AddVirtualPort.
bool IsVirtualPort(const std::string& name);

// Whether `name` can name a serial port here, present or not: on Windows COMn or
// a registered port, so that no other device (\\.\PhysicalDrive0, NUL) is opened as a port;
// elsewhere any path.
bool IsPortName(const std::string& name);

}  // namespace vantor::serial
