// The few things about the process's console and signals that differ between systems.
#pragma once

#include <string>

#include "serial/cancel.h"

namespace vantor::cli {

// Whether stderr is a terminal (the progress bar is drawn only there).
bool StderrIsTerminal();
// Windows: the console shows UTF-8 output. Elsewhere nothing.
void PrepareConsole();
// SIGINT and SIGTERM (Windows: Ctrl+C, Ctrl+Break, closing the console) cancel `token`, which
// every wait of the running flow watches; a second SIGINT ends the process at once (exit 130).
void CancelOnSignals(CancelToken& token);
// POSIX: the process group of this run's worker processes, killed when a second SIGINT ends the
// run at once. Windows: nothing.
void SetWorkerProcessGroup(long group);
// The signal that cancelled the run (SIGINT 2, SIGTERM 15), or 0.
int CancelSignal();

// The running program's own path (for starting worker processes); `argv0` when unknown.
std::string ExecutablePath(const std::string& argv0);

}  // namespace vantor::cli
