// Port descriptions on Windows: the Ports class's present devices (SetupAPI), the one whose
// PortName is the port, its driver service, maker and description, and the USB identity that its
// instance ID and its parents' give. Where the system keeps no such device (Wine maps COM ports
// without one) the port is known by its name alone.
#include <windows.h>
// initguid.h before devguid.h: GUID_DEVCLASS_PORTS is defined here, not only declared.
// clang-format off
#include <initguid.h>
#include <devguid.h>
// clang-format on
#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "serial/port_identity.h"

namespace vantor::serial {

namespace {

// How far up the device tree a port's USB device is looked for (port, interface, device, hub).
constexpr int kParentsLooked = 4;

std::string Narrow(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1)
    return {};
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), size, nullptr, nullptr);
  narrow.resize(static_cast<std::size_t>(size - 1));
  return narrow;
}

std::string RegistryProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t text[512] = {};
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                         reinterpret_cast<BYTE*>(text),
                                         sizeof text - sizeof(wchar_t), nullptr) ||
      type != REG_SZ)
    return {};
  return Narrow(text);
}

// The device's PortName (COM3), from its hardware key.
std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
  HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE)
    return {};
  wchar_t name[64] = {};
  DWORD size = sizeof name - sizeof(wchar_t);
  DWORD type = 0;
  const LONG read =
      RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
  RegCloseKey(key);
  return read == ERROR_SUCCESS && type == REG_SZ ? Narrow(name) : std::string();
}

// The instance IDs of `node` and its parents, the node's own first.
std::vector<std::string> InstanceIdChain(DEVINST node) {
  std::vector<std::string> chain;
  for (int level = 0; level < kParentsLooked; ++level) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
      break;
    chain.push_back(Narrow(id));
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS)
      break;
    node = parent;
  }
  return chain;
}

bool SameName(const std::string& a, const std::string& b) {
  return !a.empty() && _stricmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

PortInfo DescribePort(const std::string& path, const std::filesystem::path& /*sysRoot*/) {
  PortInfo info;
  info.path = path;
  info.name = path;
  HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE)
    return info;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    if (!SameName(PortNameOf(set, device), path))
      continue;
    info.driver = RegistryProperty(set, device, SPDRP_SERVICE);
    info.manufacturer = RegistryProperty(set, device, SPDRP_MFG);
    info.product = RegistryProperty(set, device, SPDRP_DEVICEDESC);
    if (const auto usb = UsbIdentityFromInstanceIds(InstanceIdChain(device.DevInst))) {
      info.vendorId = usb->vid;
      info.productId = usb->pid;
      info.serial = usb->serial;
    }
    break;
  }
  SetupDiDestroyDeviceInfoList(set);
  return info;
}

std::filesystem::path SystemDescriptionRoot() {
  return {};
}

PortInfo DescribeSystemPort(const std::string& port) {
  return DescribePort(port, SystemDescriptionRoot());
}

}  // namespace vantor::serial
