// The production report for people or scripts: the sums of production/production_report.h as a
// table or one JSON object.
#pragma once

#include <ostream>

#include "production/production_report.h"

namespace vantor::cli {

// A table for people, or one JSON object.
void PrintProductionReport(std::ostream& out, const production::ProductionReport& report,
                           bool json);

}  // namespace vantor::cli
