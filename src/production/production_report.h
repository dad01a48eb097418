// The sums of the production over records (a record file, or the database's table): units, yield,
// failures by result code with the code's meaning, units per hour, the range of unit numbers
// used, and any unit number seen on two records (an alarm: that must never happen).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "production/record_reader.h"

namespace vantor::production {

struct ProductionReport {
  std::size_t units = 0;  // records of devices sent at least one byte, each id once
  std::size_t succeeded = 0;
  std::map<std::int32_t, std::size_t> failures;  // by result code
  // Records of what never became a unit (nothing was sent: no unit number, the port did not
  // open, cancelled before), by result code; outside the yield.
  std::size_t notStarted = 0;
  std::map<std::int32_t, std::size_t> notStartedBy;
  std::size_t repeatedRecords = 0;  // lines whose id came before (a file loaded twice)
  std::int64_t firstMs = 0;         // the first start and the last finish of every record
  std::int64_t lastMs = 0;
  std::size_t numbered = 0;  // units with a number
  std::optional<std::uint64_t> lowest;
  std::optional<std::uint64_t> highest;
  std::map<std::uint64_t, std::size_t> numbersTwice;  // number -> units that got it
  double UnitsPerHour() const;
  double Yield() const { return units == 0 ? 0.0 : static_cast<double>(succeeded) / units; }
};

ProductionReport SummarizeProduction(const std::vector<RecordSummary>& records);

}  // namespace vantor::production
