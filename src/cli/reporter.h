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

#include "protocol/text_commands.h"

namespace vantor::cli {

struct DetectResult;

class Reporter {
 public:
  virtual ~Reporter() = default;
  virtual void PortOpened(const std::string& port) = 0;
  // `purpose` tells which detection: "detect" (the first) or "redetect" (after the download).
  virtual void Detected(const DetectResult& state, std::string_view purpose) = 0;
  virtual void BootRequested(BootModeOutcome outcome) = 0;
  virtual void BootloaderEntered(std::uint32_t version) = 0;
  // `index` counts from 0 among `count` segments (or regions of a read).
  virtual void SegmentStarted(std::size_t index, std::size_t count, std::uint32_t address,
                              std::int32_t length, std::string_view what) = 0;
  virtual void Progress(std::int32_t percent) = 0;
  virtual void SegmentDone(std::size_t index, std::uint32_t address, std::int32_t result) = 0;
  // A line of the programs' log (for example the download's completion line).
  virtual void Message(std::string_view text) = 0;
  virtual void Saved(std::string_view region, const std::string& path, std::size_t bytes) = 0;
  virtual void Verify(std::int32_t result, std::optional<std::uint32_t> firstDifference,
                      double seconds) = 0;
  // Attempt `number` of at most `total` begins (with retries; a failed attempt's Result came
  // before).
  virtual void Attempt(int number, int total) = 0;
  // The end of the command: 0 and a summary, or the failure's code and the programs' message.
  virtual void Result(std::int32_t code, std::string_view message) = 0;
};

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
