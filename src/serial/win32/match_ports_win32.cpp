// Windows: the ports a station's pattern of port names matches, with '*'
// and '?' (COM*, COM1?), compared without regard to case against the ports present.
#include <cctype>
#include <string_view>

#include "serial/port_enumeration.h"
#include "serial/port_match.h"

namespace vantor::serial {

namespace {

bool Matches(std::string_view pattern, std::string_view name) {
  if (pattern.empty())
    return name.empty();
  if (pattern.front() == '*')
    return Matches(pattern.substr(1), name) || (!name.empty() && Matches(pattern, name.substr(1)));
  if (name.empty())
    return false;
  const bool same =
      pattern.front() == '?' || std::toupper(static_cast<unsigned char>(pattern.front())) ==
                                    std::toupper(static_cast<unsigned char>(name.front()));
  return same && Matches(pattern.substr(1), name.substr(1));
}

}  // namespace

std::vector<std::string> MatchPortPattern(const std::string& pattern) {
  std::vector<std::string> ports;
  const std::vector<std::string> present = EnumerateComPorts();
  for (const std::string& name : present) {
    if (Matches(pattern, name))
      ports.push_back(name);
  }
  return ports;
}

}  // namespace vantor::serial
