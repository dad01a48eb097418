// The few things about the process's console that differ between systems.
#pragma once

#include <string>

namespace vantor::cli {

// Whether stderr is a terminal (the progress bar is drawn only there).
bool StderrIsTerminal();
// Windows: the console shows UTF-8 output. Elsewhere nothing.
void PrepareConsole();
// The running program's own path (for starting worker processes); `argv0` when unknown.
std::string ExecutablePath(const std::string& argv0);

}  // namespace vantor::cli
