// The message for a port that does not open (with the system's reason and, on Linux, what to do
// about a permission refusal). One implementation per OS; the low-latency request the flows make
// on opening is serial/low_latency.h.
#pragma once

#include <cstdint>
#include <string>

namespace vantor::device {

// The text for a port that did not open: the programs' message, then the port's name and the
// system's reason, and for a permission refusal on Linux how to join the port's group.
std::string OpenFailureText(const std::string& name, std::int32_t error);

}  // namespace vantor::device
