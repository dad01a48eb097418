// Windows console: _isatty, UTF-8 output code page, and the program's path.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <vector>

#include "cli/terminal.h"

namespace vantor::cli {

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

void PrepareConsole() {
  SetConsoleOutputCP(CP_UTF8);
}

std::string ExecutablePath(const std::string& argv0) {
  std::vector<char> path(32768);
  const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return n == 0 ? argv0 : std::string(path.data(), n);
}

}  // namespace vantor::cli
