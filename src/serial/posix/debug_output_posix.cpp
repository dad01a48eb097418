// Without a debugger channel, diagnostics go nowhere unless a program installs a sink.
#include <string_view>

namespace vantor::serial {

void PlatformDebugOutput(std::string_view) {}

}  // namespace vantor::serial
