// A window program started from a console has no standard output of its own: --help and
// --version write into the console of the command prompt that started it.
#include <windows.h>

#include <cstdio>

#include "ui/command_line.h"

namespace vantor::ui {

void PrepareConsoleOutput() {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE)
    return;  // redirected, or a console program's own
  if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
    [[maybe_unused]] FILE* reopened = std::freopen("CONOUT$", "w", stdout);
  }
}

}  // namespace vantor::ui
