// POSIX console: isatty, and the program's path from /proc/self/exe.
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "cli/terminal.h"

namespace vantor::cli {

bool StderrIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

void PrepareConsole() {}

std::string ExecutablePath(const std::string& argv0) {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? argv0 : self.string();
}

}  // namespace vantor::cli
