// Port enumeration on Windows: every COM0..COM254 that the object manager knows (QueryDosDeviceW)
// or that a driver lists under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (where a port that is plugged in
// shows up at once), in number order, then the ports the process registered.
#include <windows.h>

#include <string>

#include "serial/number_text.h"
#include "serial/port_enumeration.h"
#include "serial/port_identity.h"

namespace vantor::serial {

void AppendVirtualPorts(std::vector<std::string>& ports);

namespace {

constexpr int kHighestPort = 254;

// Marks the ports that SERIALCOMM names (its values' data are the port names).
void MarkListedPorts(std::vector<bool>& present) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return;
  for (DWORD i = 0;; ++i) {
    wchar_t value[256];
    DWORD valueLength = 256;
    wchar_t data[32] = {};
    DWORD dataSize = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LONG read = RegEnumValueW(key, i, value, &valueLength, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data), &dataSize);
    if (read == ERROR_NO_MORE_ITEMS)
      break;
    if (read != ERROR_SUCCESS || type != REG_SZ)
      continue;
    std::string name;
    for (const wchar_t* c = data; *c != L'\0' && name.size() < 8; ++c)
      name.push_back(*c < 0x80 ? static_cast<char>(*c) : '?');
    if (IsComPortName(name)) {
      const auto number = ParseNumber<int>(name.substr(3));
      if (number && *number <= kHighestPort)
        present[static_cast<std::size_t>(*number)] = true;
    }
  }
  RegCloseKey(key);
}

}  // namespace

std::vector<std::string> EnumerateComPorts() {
  std::vector<bool> present(kHighestPort + 1, false);
  std::wstring target(1000, L'\0');  // the target path is not used
  for (int i = 0; i <= kHighestPort; ++i) {
    const std::wstring name = L"COM" + std::to_wstring(i);
    if (QueryDosDeviceW(name.c_str(), target.data(), static_cast<DWORD>(target.size())) != 0)
      present[static_cast<std::size_t>(i)] = true;
  }
  MarkListedPorts(present);
  std::vector<std::string> ports;
  for (int i = 0; i <= kHighestPort; ++i) {
    if (present[static_cast<std::size_t>(i)])
      ports.push_back("COM" + std::to_string(i));
  }
  AppendVirtualPorts(ports);
  return ports;
}

bool IsPortName(const std::string& name) {
  return IsComPortName(name) || IsVirtualPort(name);
}

}  // namespace vantor::serial
