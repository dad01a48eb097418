// How the vantor tool tells what happens: a Reporter receives every step of a flow. The text
// reporter writes lines for a person (and a progress bar on a terminal); the JSON reporter writes
// one object per line for a script or for the parent of several device workers.
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
using namespace vantor::device;
using Reporter = FlowObserver;

struct TextOptions {
  bool quiet = false;        // only the result and failures
  bool progressBar = false;  // draw a bar on `err` (a terminal)
};
std::unique_ptr<Reporter> MakeTextReporter(std::ostream& out, std::ostream& err,
                                           TextOptions options);
// Every object carries "port" = `port` and "event".
std::unique_ptr<Reporter> MakeJsonReporter(std::ostream& out, std::string port);

// `text` as a JSON string literal (quotes included). Valid UTF-8 passes through; any other byte
// is taken as Latin-1 so that the output is always valid UTF-8.
std::string JsonString(std::string_view text);

}  // namespace vantor::cli
