// The production report printed for people or as JSON (see production_report.h).
#include "cli/report/production_report.h"

#include <cstdio>

#include "cli/report/reporter.h"
#include "device/result_codes.h"
#include "production/record.h"

namespace vantor::cli {

using production::IsoUtc;
using production::ProductionReport;

void PrintProductionReport(std::ostream& out, const ProductionReport& r, bool json) {
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.1f", r.UnitsPerHour());
  char yield[32];
  std::snprintf(yield, sizeof yield, "%.1f", 100.0 * r.Yield());
  const auto time = [](std::int64_t ms) {
    return IsoUtc(std::chrono::system_clock::time_point(std::chrono::milliseconds(ms)));
  };
  if (json) {
    out << "{\"units\":" << r.units << ",\"succeeded\":" << r.succeeded
        << ",\"failed\":" << r.units - r.succeeded << ",\"yield_percent\":" << yield
        << ",\"units_per_hour\":" << rate
        << ",\"first\":" << (r.units ? JsonString(time(r.firstMs)) : "null")
        << ",\"last\":" << (r.units ? JsonString(time(r.lastMs)) : "null")
        << ",\"repeated_records\":" << r.repeatedRecords << ",\"failures\":[";
    bool first = true;
    for (const auto& [code, count] : r.failures) {
      out << (first ? "" : ",") << "{\"code\":" << code << ",\"units\":" << count
          << ",\"meaning\":" << JsonString(device::ResultCodeMeaning(code)) << "}";
      first = false;
    }
    out << "],\"numbers\":{\"units\":" << r.numbered
        << ",\"lowest\":" << (r.lowest ? std::to_string(*r.lowest) : "null")
        << ",\"highest\":" << (r.highest ? std::to_string(*r.highest) : "null")
        << ",\"seen_twice\":[";
    first = true;
    for (const auto& [number, count] : r.numbersTwice) {
      out << (first ? "" : ",") << "{\"number\":" << number << ",\"units\":" << count << "}";
      first = false;
    }
    out << "]}}\n" << std::flush;
    return;
  }
  out << "units           " << r.units << "\n"
      << "succeeded       " << r.succeeded << "\n"
      << "failed          " << r.units - r.succeeded << "\n"
      << "yield           " << yield << " %\n"
      << "units per hour  " << rate << "\n";
  if (r.units)
    out << "period          " << time(r.firstMs) << " to " << time(r.lastMs) << "\n";
  if (r.numbered) {
    out << "unit numbers    " << *r.lowest << " to " << *r.highest << " (" << r.numbered
        << " units)\n";
  } else {
    out << "unit numbers    none\n";
  }
  if (r.repeatedRecords)
    out << "repeated lines  " << r.repeatedRecords << " (the same record more than once)\n";
  if (!r.failures.empty()) {
    out << "\nfailures by result code\n";
    for (const auto& [code, count] : r.failures) {
      char line[64];
      std::snprintf(line, sizeof line, "  %7d  %5zu  ", code, count);
      out << line << device::ResultCodeMeaning(code) << "\n";
    }
  }
  if (!r.numbersTwice.empty()) {
    out << "\nALARM: unit numbers given to more than one unit\n";
    for (const auto& [number, count] : r.numbersTwice)
      out << "  " << number << "  " << count << " units\n";
  }
  out << std::flush;
}

}  // namespace vantor::cli
