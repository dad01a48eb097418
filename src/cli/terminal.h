// The few things about the process's console and signals that differ between systems.
#pragma once

#include "serial/cancel.h"

namespace vantor::cli {

// SIGHUP's number on every system (Windows: the console closed): a run it ends exits 129.
inline constexpr int kSignalHangUp = 1;

// The size of a terminal in character cells.
struct TerminalSize {
  int columns = 80;
  int lines = 24;
};

// Whether stderr is a terminal (the progress bar is drawn only there).
bool StderrIsTerminal();
// The size of the terminal behind stderr, read anew on each call (the window may have been
// resized); 80x24 when it cannot be told.
TerminalSize StderrTerminalSize();
// The width of the terminal behind stdout; 0 when stdout is not a terminal (a file, a pipe).
int StdoutTerminalColumns();
// Windows: the console shows UTF-8 output. Elsewhere nothing.
void PrepareConsole();
// SIGINT, SIGTERM and SIGHUP (Windows: Ctrl+C, Ctrl+Break, closing the console, logoff,
// shutdown) cancel `token`, which every wait of the running flow watches; a second SIGINT ends
// the process at once (exit 130). A write to a closed pipe or a terminal that is gone fails
// instead of ending the process (SIGPIPE ignored), so the run still ends and records what it did.
void CancelOnSignals(serial::CancelToken& token);
// The signal that cancelled the run (SIGHUP 1, SIGINT 2, SIGTERM 15), or 0.
int CancelSignal();

// While one lives, SIGINT and SIGTERM (Windows: Ctrl+C, Ctrl+Break) are only counted: they
// neither cancel the run's token nor end the process. A watch loop reads the count and decides
// (the station: the first stops taking devices, the second cancels the running ones). SIGHUP
// (Windows: closing the console, logoff, shutdown) counts as two at once: nobody is left to ask
// twice.
class CountedSignals {
 public:
  CountedSignals();
  ~CountedSignals();
  CountedSignals(const CountedSignals&) = delete;
  CountedSignals& operator=(const CountedSignals&) = delete;
  // The signals that arrived since construction.
  int count() const;
  // The signal that brought the count to two (the one that cancels the running work), or 0.
  int cancelSignal() const;
};

}  // namespace vantor::cli
