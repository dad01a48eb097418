// The production report printed for people or as JSON (see production_report.h).
#include "cli/report/production_report.h"

#include <cstdio>
#include <map>

#include <nlohmann/json.hpp>

#include "cli/report/reporter.h"
#include "device/result_codes.h"
#include "production/json_string.h"
#include "production/record.h"

namespace vantor::cli {

using nlohmann::ordered_json;
using production::IsoUtc;
using production::ProductionReport;
using production::RoundedTo;
using production::Utf8Text;

void PrintProductionReport(std::ostream& out, const ProductionReport& r, bool json) {
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.1f", r.UnitsPerHour());
  char yield[32];
  std::snprintf(yield, sizeof yield, "%.1f", 100.0 * r.Yield());
  const auto time = [](std::int64_t ms) {
    return IsoUtc(std::chrono::system_clock::time_point(std::chrono::milliseconds(ms)));
  };
  const bool any = r.units + r.notStarted > 0;
  if (json) {
    ordered_json j;
    j["units"] = r.units;
    j["succeeded"] = r.succeeded;
    j["failed"] = r.units - r.succeeded;
    j["yield_percent"] = RoundedTo(100.0 * r.Yield(), 1);
    j["units_per_hour"] = RoundedTo(r.UnitsPerHour(), 1);
    j["first"] = any ? ordered_json(time(r.firstMs)) : ordered_json(nullptr);
    j["last"] = any ? ordered_json(time(r.lastMs)) : ordered_json(nullptr);
    j["repeated_records"] = r.repeatedRecords;
    j["not_started"] = r.notStarted;
    const auto byCode = [](const std::map<std::int32_t, std::size_t>& counts, const char* what) {
      ordered_json list = ordered_json::array();
      for (const auto& [code, count] : counts) {
        list.push_back(ordered_json{
            {"code", code}, {what, count}, {"meaning", Utf8Text(device::ResultCodeMeaning(code))}});
      }
      return list;
    };
    j["failures"] = byCode(r.failures, "units");
    j["not_started_by"] = byCode(r.notStartedBy, "records");
    ordered_json numbers;
    numbers["units"] = r.numbered;
    numbers["lowest"] = r.lowest ? ordered_json(*r.lowest) : ordered_json(nullptr);
    numbers["highest"] = r.highest ? ordered_json(*r.highest) : ordered_json(nullptr);
    numbers["seen_twice"] = ordered_json::array();
    for (const auto& [number, count] : r.numbersTwice)
      numbers["seen_twice"].push_back(ordered_json{{"number", number}, {"units", count}});
    j["numbers"] = std::move(numbers);
    out << j.dump() << "\n" << std::flush;
    return;
  }
  out << "units           " << r.units << "\n"
      << "succeeded       " << r.succeeded << "\n"
      << "failed          " << r.units - r.succeeded << "\n"
      << "yield           " << yield << " % (of the units sent anything)\n"
      << "not started     " << r.notStarted << " (nothing sent: not units)\n"
      << "units per hour  " << rate << "\n";
  if (any)
    out << "period          " << time(r.firstMs) << " to " << time(r.lastMs) << "\n";
  if (r.numbered) {
    out << "unit numbers    " << *r.lowest << " to " << *r.highest << " (" << r.numbered
        << " units)\n";
  } else {
    out << "unit numbers    none\n";
  }
  if (r.repeatedRecords)
    out << "repeated lines  " << r.repeatedRecords << " (the same record more than once)\n";
  const auto byCode = [&out](const std::map<std::int32_t, std::size_t>& counts, const char* title) {
    if (counts.empty())
      return;
    out << "\n" << title << "\n";
    for (const auto& [code, count] : counts) {
      char line[64];
      std::snprintf(line, sizeof line, "  %7d  %5zu  ", code, count);
      out << line << device::ResultCodeMeaning(code) << "\n";
    }
  };
  byCode(r.failures, "failures by result code");
  byCode(r.notStartedBy, "not started, by result code (not counted as units)");
  if (!r.numbersTwice.empty()) {
    out << "\nALARM: unit numbers given to more than one unit\n";
    for (const auto& [number, count] : r.numbersTwice)
      out << "  " << number << "  " << count << " units\n";
  }
  out << std::flush;
}

}  // namespace vantor::cli
