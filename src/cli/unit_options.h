// The unit-number options of download, write and station: where the number goes
// (--serial ADDR:SIZE[:le|be|ascii]) and where it comes from (--serial-start/--serial-step with
// --serial-counter, or --serial-list). Checked before anything is sent.
#pragma once

#include <CLI/CLI.hpp>

#include <memory>
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

// Checks the options against `job`'s segments, opens the source and checks that its next
// number fits, then gives `job` its place and its source. Without --serial nothing changes.
// `source`, when given (numbers from a database), replaces the counter and the list. False with
// `error`: a usage error, nothing is to be sent.
bool ApplyUnitOptions(const UnitArgs& args, device::Job& job, std::string& error,
                      std::shared_ptr<UnitNumbers> source = nullptr);

}  // namespace vantor::cli
