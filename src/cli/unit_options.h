// The unit-number options of download, write and station: where the number goes
// (--serial ADDR:SIZE[:le|be|ascii]) and where it comes from (--serial-start/--serial-step with
// --serial-counter, or --serial-list). Checked and opened by production/unit_setup.h.
#pragma once

#include <CLI/CLI.hpp>

#include "production/unit_setup.h"

namespace vantor::cli {

void AddUnitOptions(CLI::App* command, production::UnitArgs& args);

}  // namespace vantor::cli
