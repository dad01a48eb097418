// Finding the ports a station watches: a usb:VID:PID[:SERIAL] name against the ports present, or
// a pattern of port names (a path glob on POSIX, a pattern such as COM* on Windows).
#pragma once

#include <string>
#include <vector>

namespace vantor::serial {

// The ports `pattern` matches now: a usb: name against the ports present (every match), else a
// path glob against the file system (links count; a link whose target is gone does not); on
// Windows a pattern such as COM* against the port names.
std::vector<std::string> MatchStationPorts(const std::string& pattern);
// The pattern part of it, per system: a path glob, or a pattern of Windows port names.
std::vector<std::string> MatchPortPattern(const std::string& pattern);

}  // namespace vantor::serial
