// Port enumeration on Windows: every COM0..COM254 that the object manager knows (QueryDosDeviceW),
// then the ports the process registered.
#include <windows.h>

#include <string>

#include "serial/port_enumeration.h"

namespace vantor {

void AppendVirtualPorts(std::vector<std::string>& ports);

std::vector<std::string> EnumerateComPorts() {
  std::vector<std::string> ports;
  std::wstring target(1000, L'\0');  // the target path is not used
  for (int i = 0; i <= 254; ++i) {
    const std::wstring name = L"COM" + std::to_wstring(i);
    if (QueryDosDeviceW(name.c_str(), target.data(), static_cast<DWORD>(target.size())) != 0) {
      ports.push_back("COM" + std::to_string(i));
    }
  }
  AppendVirtualPorts(ports);
  return ports;
}

}  // namespace vantor
