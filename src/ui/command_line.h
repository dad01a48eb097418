// The programs' --help and --version, answered before the window system is touched: they work
// without a display (the manual pages are written from them at build time).
#pragma once

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace vantor::ui {

struct ProgramOption {
  const char* name;  // "--simulator"
  const char* help;
};

struct ProgramInfo {
  const char* program;  // "quorix": the command's name, also the first word of --version
  const char* description;
  std::span<const ProgramOption> options;
};

// The --help text: usage, description and every option, help and version included.
std::string HelpText(const ProgramInfo& info);

// When `args` (without the program's name) ask for --help/-h or --version, prints the answer on
// `out` and returns the exit code 0; otherwise nullopt and the program starts.
std::optional<int> AnswerInfoOptions(const std::vector<std::string>& args, const ProgramInfo& info,
                                     std::ostream& out);

// Windows: a window program started from a command prompt writes into that prompt's console
// (when its output is not redirected). Elsewhere nothing to do.
void PrepareConsoleOutput();

}  // namespace vantor::ui
