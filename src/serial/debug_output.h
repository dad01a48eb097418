// DebugOutput: the one sink for diagnostics (the byte trace, the "bytes left" lines). The core
// never prints; each program decides where the sink goes (the debugger on Windows, a Qt logging
// category in the programs, stderr in the command-line tool with --trace).
#pragma once

#include <functional>
#include <string_view>

namespace vantor::serial {

using DebugSink = std::function<void(std::string_view text)>;

// Sends one diagnostic string (UTF-8) to the installed sink; the default sink is the platform's
// debugger output (Windows) or nothing. Safe to call from any thread.
void DebugOutput(std::string_view text);

// Installs a sink for the whole process; an empty function restores the default. Call it before
// the threads that trace start, or while none is tracing.
void SetDebugSink(DebugSink sink);

}  // namespace vantor::serial
