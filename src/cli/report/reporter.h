// How the vantor tool tells what happens: a Reporter receives every step of a flow. The text
// reporter writes lines for a person (and a progress bar on a terminal); the JSON reporter writes
// one object per line for a script.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "device/observer.h"

namespace vantor::cli {

// The command-line tool is a front-end over the device layer: its reporters are the flows'
// observers.
using Reporter = device::FlowObserver;

struct TextOptions {
  bool quiet = false;        // only the result and failures
  bool progressBar = false;  // draw a bar on `err` (a terminal)
};
std::unique_ptr<Reporter> MakeTextReporter(std::ostream& out, std::ostream& err,
                                           TextOptions options);
// Every object carries "port" = `port` and "event".
std::unique_ptr<Reporter> MakeJsonReporter(std::ostream& out, std::string port);

}  // namespace vantor::cli
