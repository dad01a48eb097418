// Ports the OS does not list (a simulated device's pseudo-terminal), registered by the process.
#include <algorithm>
#include <mutex>

#include "serial/port_enumeration.h"

namespace vantor::serial {

namespace {
std::mutex g_virtualPortsMutex;
std::vector<std::string> g_virtualPorts;
}  // namespace

void AddVirtualPort(const std::string& name) {
  std::lock_guard lock(g_virtualPortsMutex);
  if (std::find(g_virtualPorts.begin(), g_virtualPorts.end(), name) == g_virtualPorts.end()) {
    g_virtualPorts.push_back(name);
  }
}

void RemoveVirtualPort(const std::string& name) {
  std::lock_guard lock(g_virtualPortsMutex);
  std::erase(g_virtualPorts, name);
}

bool IsVirtualPort(const std::string& name) {
  std::lock_guard lock(g_virtualPortsMutex);
  return std::find(g_virtualPorts.begin(), g_virtualPorts.end(), name) != g_virtualPorts.end();
}

// Appends the registered ports that `ports` does not hold yet.
void AppendVirtualPorts(std::vector<std::string>& ports) {
  std::lock_guard lock(g_virtualPortsMutex);
  for (const auto& name : g_virtualPorts) {
    if (std::find(ports.begin(), ports.end(), name) == ports.end())
      ports.push_back(name);
  }
}

}  // namespace vantor::serial
