// The unit-number options of download, write and station: where the number goes
// (--serial ADDR:SIZE[:le|be|ascii]) and where it comes from (--serial-start/--serial-step with
// --serial-counter, or --serial-list). Checked before anything is sent.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/station/unit_numbers.h"
#include "device/job.h"
#include "device/unit_number.h"

namespace vantor::cli {

struct UnitArgs {
  std::string place;  // ADDR:SIZE[:le|be|ascii]
  std::string start;
  std::string step;
  std::string counter;
  std::string list;
};

void AddUnitOptions(CLI::App* command, UnitArgs& args);

// "ADDR:SIZE[:le|be|ascii]" (little-endian when the encoding is left out).
bool ParseNumberPlace(const std::string& text, device::NumberPlace& place, std::string& error);

// The database's counter as a source, made with the start and step of the command line.
using CounterFactory =
    std::function<std::shared_ptr<UnitNumbers>(std::optional<std::uint64_t>, std::uint64_t)>;

// Checks the options against `job`'s segments, opens the source and checks that its next
// number fits, then gives `job` its place and its source. Without --serial nothing changes.
// With `database` and neither --serial-counter nor --serial-list, the numbers come from it.
// False with `error`: a usage error, nothing is to be sent.
bool ApplyUnitOptions(const UnitArgs& args, device::Job& job, std::string& error,
                      const CounterFactory& database = {});

}  // namespace vantor::cli
