// The few things about the process's console and signals that differ between systems.
#pragma once

#include "serial/cancel.h"

namespace vantor::cli {

// Whether stderr is a terminal (the progress bar is drawn only there).
bool StderrIsTerminal();
// Windows: the console shows UTF-8 output. Elsewhere nothing.
void PrepareConsole();
// SIGINT and SIGTERM (Windows: Ctrl+C, Ctrl+Break, closing the console) cancel `token`, which
// every wait of the running flow watches; a second SIGINT ends the process at once (exit 130).
void CancelOnSignals(CancelToken& token);
// The signal that cancelled the run (SIGINT 2, SIGTERM 15), or 0.
int CancelSignal();

}  // namespace vantor::cli
