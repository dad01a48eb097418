// The vantor command-line tool's entry: one command line in, an exit code out.
//   0  success
//   1  the device or the transfer failed (nothing answered, refusal, a failed download or read)
//   2  bad usage or a bad input file (wrong size, missing file): nothing was sent
//   130, 143, 129  cancelled by SIGINT, SIGTERM, SIGHUP (128 + the signal)
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "serial/cancel.h"

namespace vantor::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Runs the command line `args` (args[0] is the program's name) with `out` as stdout and `err` as
// stderr. `errIsTerminal` allows the progress bar.
// `cancel`, when given, ends the running flow (SIGINT/SIGTERM/SIGHUP in the program).
// `outColumns`: the width of the terminal behind `out` (0: not a terminal, lines are not cut).
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool errIsTerminal, const serial::CancelToken* cancel = nullptr, int outColumns = 0);

// The program's main: the process's arguments, std::cout and std::cerr.
int Main(int argc, char** argv);

}  // namespace vantor::cli
