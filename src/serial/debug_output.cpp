// The process-wide diagnostics sink.
#include "serial/debug_output.h"

#include <mutex>

namespace vantor::serial {

// The platform's default destination (the debugger on Windows, nothing elsewhere).
void PlatformDebugOutput(std::string_view text);

namespace {
std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}
DebugSink& Sink() {
  static DebugSink sink;
  return sink;
}
}  // namespace

void DebugOutput(std::string_view text) {
  std::lock_guard lock(SinkMutex());
  if (Sink()) {
    Sink()(text);
  } else {
    PlatformDebugOutput(text);
  }
}

void SetDebugSink(DebugSink sink) {
  std::lock_guard lock(SinkMutex());
  Sink() = std::move(sink);
}

}  // namespace vantor::serial
