// The production report (see production_report.h).
#include "cli/report/production_report.h"

#include <cstdio>
#include <set>

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "cli/production_options.h"
#include "cli/report/reporter.h"
#include "cli/station/database.h"
#include "cli/station/record.h"
#include "device/result_codes.h"

namespace vantor::cli {

using nlohmann::ordered_json;

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
    if (report.units == 0 || r.startedMs < report.firstMs)
      report.firstMs = r.startedMs;
    if (report.units == 0 || r.finishedMs > report.lastMs)
      report.lastMs = r.finishedMs;
    ++report.units;
    if (r.code == 0)
      ++report.succeeded;
    else
      ++report.failures[r.code];
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

void PrintProductionReport(std::ostream& out, const ProductionReport& r, bool json) {
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.1f", r.UnitsPerHour());
  char yield[32];
  std::snprintf(yield, sizeof yield, "%.1f", 100.0 * r.Yield());
  const auto time = [](std::int64_t ms) {
    return IsoUtc(std::chrono::system_clock::time_point(std::chrono::milliseconds(ms)));
  };
  if (json) {
    ordered_json j;
    j["units"] = r.units;
    j["succeeded"] = r.succeeded;
    j["failed"] = r.units - r.succeeded;
    j["yield_percent"] = RoundedTo(100.0 * r.Yield(), 1);
    j["units_per_hour"] = RoundedTo(r.UnitsPerHour(), 1);
    j["first"] = r.units ? ordered_json(time(r.firstMs)) : ordered_json(nullptr);
    j["last"] = r.units ? ordered_json(time(r.lastMs)) : ordered_json(nullptr);
    j["repeated_records"] = r.repeatedRecords;
    j["failures"] = ordered_json::array();
    for (const auto& [code, count] : r.failures) {
      j["failures"].push_back(ordered_json{{"code", code},
                                           {"units", count},
                                           {"meaning", Utf8Text(device::ResultCodeMeaning(code))}});
    }
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

namespace {

int ReportCommand(Env& env, const std::string& file, const std::string& url) {
  if (file.empty() == url.empty()) {
    env.err << "vantor: report: a record FILE or --database URL\n";
    return kExitUsage;
  }
  std::vector<RecordSummary> records;
  std::string error;
  if (!file.empty()) {
    RecordFile read;
    if (!ReadRecordFile(file, read, error)) {
      env.err << "vantor: " << error << "\n";
      return kExitUsage;
    }
    if (!read.torn.empty())
      env.err << "vantor: " << read.torn << "\n";
    records = std::move(read.records);
  } else if (!ProductionDatabase::Open(url)->ReadAll(records, error)) {
    env.err << "vantor: " << error << "\n";
    return kExitFailure;
  }
  const ProductionReport summary = SummarizeProduction(records);
  PrintProductionReport(env.out, summary, env.json);
  // Numbers given twice are an alarm a script must not miss.
  return summary.numbersTwice.empty() ? kExitOk : kExitFailure;
}

// Loads record lines into the database; a line already there (its id) is left alone.
int ImportCommand(Env& env, const std::string& file, const std::string& url) {
  RecordFile read;
  std::string error;
  if (!ReadRecordFile(file, read, error)) {
    env.err << "vantor: " << error << "\n";
    return kExitUsage;
  }
  if (!read.torn.empty())
    env.err << "vantor: " << read.torn << "\n";
  const std::vector<std::string>& lines = read.lines;
  const std::vector<RecordSummary>& records = read.records;
  auto database = ProductionDatabase::Open(url);
  std::size_t added = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    bool isNew = false;
    if (records[i].id.empty()) {
      env.err << "vantor: " << file << ": a record without an id cannot be loaded once only\n";
      return kExitUsage;
    }
    if (!database->Insert(lines[i], records[i], isNew, error)) {
      env.err << "vantor: " << error << " (" << added << " of " << lines.size()
              << " loaded so far; loading again adds only what is missing)\n";
      return kExitFailure;
    }
    added += isNew ? 1 : 0;
  }
  env.out << lines.size() << " record(s): " << added << " added, " << lines.size() - added
          << " already there\n"
          << std::flush;
  return kExitOk;
}

}  // namespace

void AddReportCommand(CLI::App& app, Env& env, Action& action) {
  struct Args {
    std::string file;
    std::string url;
    std::string importFile;
    std::string importUrl;
  };
  auto args = std::make_shared<Args>();
  auto* report = app.add_subcommand(
      "report",
      "Sum up the production: units, yield, failures by result code, units per hour, the unit "
      "numbers used and any number given twice (exit 1); from a record file or the database");
  report->add_option("file", args->file, "The production record (--record's file, or a spool)");
  report->add_option("--database", args->url,
                     "PostgreSQL URL: the records of every station" + DatabaseLeftOutNote());
  report->callback([&env, &action, args] {
    action = [&env, args] { return ReportCommand(env, args->file, args->url); };
  });

  auto* record = app.add_subcommand("record", "Production records");
  record->require_subcommand(1);
  auto* import = record->add_subcommand(
      "import",
      "Load record lines (a spool, or a record file) into the database; a record already there "
      "is left alone, so loading twice adds nothing");
  import->add_option("file", args->importFile, "The lines to load")->required();
  import->add_option("--database", args->importUrl, "PostgreSQL URL" + DatabaseLeftOutNote())
      ->required();
  import->callback([&env, &action, args] {
    action = [&env, args] { return ImportCommand(env, args->importFile, args->importUrl);
};
}  // namespace vantor::cli
);
}

}  // namespace vantor::cli
