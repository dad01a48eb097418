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

// "acknowledged", "silent" or "refused".
const char* BootOutcomeName(BootModeOutcome outcome);

// The meaning of a failure's code where the message shows it bare after the programs' "통신에러"
// text; none for a success or a failure that says what happened in words.
std::optional<std::string> CodeMeaning(std::int32_t code, std::string_view message);

// `text` as valid UTF-8, for JSON: valid UTF-8 passes through; any other byte is taken as
// Latin-1 (0xFF becomes U+00FF), so that a port or file name in another encoding stays readable
// and reads back the same every time.
std::string Utf8Text(std::string_view text);

// `text` as a JSON string literal (quotes included), through Utf8Text.
std::string JsonString(std::string_view text);

// `value` rounded to `decimals` places: how the JSON outputs give seconds and percentages, so
// that they print short and stable ("1.234", not 1.2339999).
double RoundedTo(double value, int decimals);

}  // namespace vantor::cli
