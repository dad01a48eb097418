// The sums of a set of production records (see production_report.h).
#include "production/production_report.h"

#include <set>

namespace vantor::production {

double ProductionReport::UnitsPerHour() const {
  const double hours = static_cast<double>(lastMs - firstMs) / 3600000.0;
  return hours > 0 ? static_cast<double>(units) / hours : 0.0;
}

ProductionReport SummarizeProduction(const std::vector<RecordSummary>& records) {
  ProductionReport report;
  std::set<std::string> ids;
  std::map<std::uint64_t, std::size_t> numbers;
  for (const RecordSummary& r : records) {
    if (!r.id.empty() && !ids.insert(r.id).second) {
      ++report.repeatedRecords;
      continue;
    }
    const bool first = report.units + report.notStarted == 0;
    if (first || r.startedMs < report.firstMs)
      report.firstMs = r.startedMs;
    if (first || r.finishedMs > report.lastMs)
      report.lastMs = r.finishedMs;
    if (!r.sent) {
      ++report.notStarted;
      ++report.notStartedBy[r.code];
    } else {
      ++report.units;
      if (r.code == 0)
        ++report.succeeded;
      else
        ++report.failures[r.code];
    }
    if (r.unit) {
      ++report.numbered;
      ++numbers[*r.unit];
      if (!report.lowest || *r.unit < *report.lowest)
        report.lowest = r.unit;
      if (!report.highest || *r.unit > *report.highest)
        report.highest = r.unit;
    }
  }
  for (const auto& [number, count] : numbers) {
    if (count > 1)
      report.numbersTwice[number] = count;
  }
  return report;
}

}  // namespace vantor::production
