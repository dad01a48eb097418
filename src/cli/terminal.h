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
void CancelOnSignals(serial::CancelToken& token);
// The signal that cancelled the run (SIGINT 2, SIGTERM 15), or 0.
int CancelSignal();

// While one lives, SIGINT and SIGTERM (Windows: Ctrl+C, Ctrl+Break) are only counted: they
// neither cancel the run's token nor end the process. A watch loop reads the count and decides
// (the station: the first stops taking devices, the second cancels the running ones).
class CountedSignals {
 public:
  CountedSignals();
  ~CountedSignals();
  CountedSignals(const CountedSignals&) = delete;
  CountedSignals& operator=(const CountedSignals&) = delete;
  // The signals that arrived since construction.
  int count() const;
};

}  // namespace vantor::cli
