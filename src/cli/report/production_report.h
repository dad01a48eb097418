// The production report over records (a record file, or the database's table): units, yield,
// failures by result code with the code's meaning, units per hour, the range of unit numbers
// used, and any unit number seen on two records (an alarm: that must never happen).
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/station/record_reader.h"

namespace vantor::cli {

struct ProductionReport {
  std::size_t units = 0;  // records, each id once
  std::size_t succeeded = 0;
  std::map<std::int32_t, std::size_t> failures;  // by result code
  std::size_t repeatedRecords = 0;               // lines whose id came before (a file loaded twice)
  std::int64_t firstMs = 0;                      // the first start and the last finish
  std::int64_t lastMs = 0;
  std::size_t numbered = 0;  // units with a number
  std::optional<std::uint64_t> lowest;
  std::optional<std::uint64_t> highest;
  std::map<std::uint64_t, std::size_t> numbersTwice;  // number -> units that got it
  double UnitsPerHour() const;
  double Yield() const { return units == 0 ? 0.0 : static_cast<double>(succeeded) / units; }
};

ProductionReport SummarizeProduction(const std::vector<RecordSummary>& records);

// A table for people, or one JSON object.
void PrintProductionReport(std::ostream& out, const ProductionReport& report, bool json);

// Registers "report" (a file or the database) and "record import".
void AddReportCommand(CLI::App& app, Env& env, Action& action);

}  // namespace vantor::cli
