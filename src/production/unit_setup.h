// Unit numbers for a run: where each unit's number goes (ADDR:SIZE[:le|be|ascii]) and where it
// comes from (a counter file with a start and a step, a list file, or the database's counter),
// checked against the run's segments and opened before anything is sent.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/job.h"
#include "device/unit_number.h"
#include "production/unit_numbers.h"

namespace vantor::production {

// As the command line gives them (--serial, --serial-start, --serial-step, --serial-counter,
// --serial-list).
struct UnitArgs {
  std::string place;  // ADDR:SIZE[:le|be|ascii]
  std::string start;
  std::string step;
  std::string counter;
  std::string list;
};

// "ADDR:SIZE[:le|be|ascii]" (little-endian when the encoding is left out).
bool ParseNumberPlace(const std::string& text, device::NumberPlace& place, std::string& error);

// The database's counter as a source, made with the start and step of the command line.
using CounterFactory =
    std::function<std::shared_ptr<UnitNumbers>(std::optional<std::uint64_t>, std::uint64_t)>;

// The run's last checks (the files it writes), made once the options are known good and before
// anything is created.
using ReadyCheck = std::function<bool(std::string& error)>;

// Checks the options against `job`'s segments, then `ready`, then that the counter file or the
// list's position file can be written; opens the source and checks that its next number fits,
// then gives `job` its place and its source. Without --serial nothing changes but `ready`. With
// `database` and neither --serial-counter nor --serial-list, the numbers come from it. False
// with `error`: a usage error, nothing is to be sent, and no counter or position file was made.
bool ApplyUnitOptions(const UnitArgs& args, device::Job& job, std::string& error,
                      const CounterFactory& database = {}, const ReadyCheck& ready = {});

}  // namespace vantor::production
