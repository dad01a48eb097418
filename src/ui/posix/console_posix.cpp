// Standard output is there as it is.
#include "ui/command_line.h"

namespace vantor::ui {

void PrepareConsoleOutput() {}

}  // namespace vantor::ui
